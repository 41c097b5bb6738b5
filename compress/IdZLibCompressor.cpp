#include "compress/IdZLibCompressor.h"

#include <memory>

#include <zlib.h>

#include "base/IdResourceStrings.h"

namespace ftpc {

namespace {

// Bytes read from the file, and deflated bytes written, per step.
constexpr size_t kChunkSize = 64 * 1024;

[[noreturn]] void RaiseZLibError(int ACode, const z_stream& AStream) {
  const char* text = AStream.msg != nullptr ? AStream.msg : zError(ACode);
  throw EIdZLibError(FormatInvariant(RSZLibError, {ACode, text}));
}

void Check(int ACode, const z_stream& AStream) {
  if (ACode != Z_OK && ACode != Z_STREAM_END && ACode != Z_BUF_ERROR) {
    RaiseZLibError(ACode, AStream);
  }
}

// A z_stream set up for deflate or inflate and released with its scope.
class TZStream {
public:
  TZStream(const TZStream&) = delete;
  TZStream& operator=(const TZStream&) = delete;

  static std::unique_ptr<TZStream> ForDeflate(int32_t ALevel, int32_t AWindowBits,
                                              int32_t AMemLevel, int32_t AStrategy) {
    auto stream = std::unique_ptr<TZStream>(new TZStream(true));
    const int code =
        deflateInit2(&stream->Z, ALevel, Z_DEFLATED, AWindowBits, AMemLevel, AStrategy);
    stream->Ready(code);
    return stream;
  }
  static std::unique_ptr<TZStream> ForInflate(int32_t AWindowBits) {
    auto stream = std::unique_ptr<TZStream>(new TZStream(false));
    stream->Ready(inflateInit2(&stream->Z, AWindowBits));
    return stream;
  }
  ~TZStream() {
    if (FInitialised) {
      FDeflate ? deflateEnd(&Z) : inflateEnd(&Z);
    }
  }

  z_stream Z{};

private:
  explicit TZStream(bool ADeflate) : FDeflate(ADeflate) {}
  void Ready(int ACode) {
    if (ACode != Z_OK) {
      RaiseZLibError(ACode, Z);
    }
    FInitialised = true;
  }

  bool FDeflate;
  bool FInitialised = false;
};

// A sink for the I/O handler's stream reader: what is written to it is inflated into the
// output stream. Its position counts the compressed bytes taken.
class TInflateStream : public TStream {
public:
  TInflateStream(TStream& AOutput, int32_t AWindowBits)
      : FZ(TZStream::ForInflate(AWindowBits)), FOutput(AOutput), FOut(kChunkSize) {}

  int64_t Read(void* /*ABuffer*/, int64_t /*ACount*/) override { return 0; }
  int64_t Write(const void* ABuffer, int64_t ACount) override {
    z_stream& z = FZ->Z;
    z.next_in = static_cast<Bytef*>(const_cast<void*>(ABuffer));
    z.avail_in = static_cast<uInt>(ACount);
    while (z.avail_in > 0 && !FEnded) {
      z.next_out = FOut.data();
      z.avail_out = static_cast<uInt>(FOut.size());
      const int code = inflate(&z, Z_NO_FLUSH);
      Check(code, z);
      FOutput.WriteBuffer(FOut.data(), static_cast<int64_t>(FOut.size() - z.avail_out));
      FEnded = code == Z_STREAM_END;
      if (code == Z_BUF_ERROR && z.avail_out != 0) {
        break; // no progress possible with this input
      }
    }
    FTaken += ACount;
    return ACount;
  }
  int64_t Seek(int64_t /*AOffset*/, TSeekOrigin /*AOrigin*/) override { return FTaken; }
  void SetSize(int64_t /*ASize*/) override {}
  int64_t Size() override { return FTaken; }
  bool Ended() const { return FEnded; }

private:
  std::unique_ptr<TZStream> FZ;
  TStream& FOutput;
  TBytes FOut;
  int64_t FTaken = 0;
  bool FEnded = false;
};

} // namespace

void TIdZLibCompressor::CompressFTPToIO(TStream& AInStream, TIdIOHandler& AIOHandler,
                                        int32_t ALevel, int32_t AWindowBits, int32_t AMemLevel,
                                        int32_t AStrategy) {
  const auto stream = TZStream::ForDeflate(ALevel, AWindowBits, AMemLevel, AStrategy);
  z_stream& z = stream->Z;
  TBytes in(kChunkSize);
  TBytes out(kChunkSize);
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    const int64_t count = AInStream.Read(in.data(), static_cast<int64_t>(in.size()));
    flush = count == 0 ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(count);
    int code = Z_OK;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      code = deflate(&z, flush);
      Check(code, z);
      const auto produced = static_cast<int32_t>(out.size() - z.avail_out);
      if (produced > 0) {
        AIOHandler.Write(out, produced);
      }
    } while (z.avail_out == 0 || (flush == Z_FINISH && code != Z_STREAM_END));
  }
}

void TIdZLibCompressor::DecompressFTPFromIO(TIdIOHandler& AIOHandler, TStream& AOutputStream,
                                            int32_t AWindowBits) {
  TInflateStream inflater(AOutputStream, AWindowBits);
  AIOHandler.ReadStream(inflater, -1, true);
  if (!inflater.Ended()) {
    throw EIdZLibError(std::string(RSZLibTruncated));
  }
}

} // namespace ftpc

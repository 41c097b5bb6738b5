// The handler's write side: the one Write entry point, the direct send with its intercept and
// partial-send loop, text and value writes, stream uploads and write buffering.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/IdAntiFreezeBase.h"
#include "core/IdBuffer.h"
#include "core/IdIOHandler.h"
#include "core/IdIntercept.h"
#include "base/IdResourceStrings.h"
#include "stack/IdStack.h"

namespace ftpc {

namespace {

constexpr int64_t kLargeStreamThreshold = 2147483648; // 2 GiB: beyond a 32-bit signed count

// The bytes of ABuffer that a write of ALength bytes from AOffset covers: ALength -1 means
// to the end, and the run is clipped to what ABuffer holds.
std::span<const uint8_t> UsableRun(const TBytes& ABuffer, int32_t ALength, int32_t AOffset) {
  const size_t offset = std::min(ABuffer.size(), static_cast<size_t>(std::max(AOffset, 0)));
  size_t count = ABuffer.size() - offset;
  if (ALength >= 0) {
    count = std::min(count, static_cast<size_t>(ALength));
  }
  return {ABuffer.data() + offset, count};
}

// A value's bytes, in network byte order when AConvert, else in host order.
template <typename T> TBytes ValueBytes(T AValue, bool AConvert) {
  TBytes bytes(sizeof(T));
  if (!AConvert) {
    std::memcpy(bytes.data(), &AValue, sizeof(T));
    return bytes;
  }
  using U = std::make_unsigned_t<T>;
  auto bits = static_cast<U>(AValue);
  for (size_t i = sizeof(T); i > 0; --i) {
    bytes[i - 1] = static_cast<uint8_t>(bits & 0xFF);
    bits = static_cast<U>(bits >> 8);
  }
  return bytes;
}

} // namespace

// ---- The entry point ----------------------------------------------------------------------------

void TIdIOHandler::Write(const TBytes& ABuffer, int32_t ALength, int32_t AOffset) {
  const std::span<const uint8_t> run = UsableRun(ABuffer, ALength, AOffset);
  if (run.empty()) {
    return;
  }
  if (FWriteBuffer == nullptr) {
    WriteDirect(ABuffer, static_cast<int32_t>(run.size()),
                static_cast<int32_t>(run.data() - ABuffer.data()));
    return;
  }
  FWriteBuffer->Write(run);
  FlushWriteBufferAtThreshold();
}

void TIdIOHandler::WriteDirect(const TBytes& ABuffer, int32_t ALength, int32_t AOffset) {
  // A connection the peer has closed raises before anything is sent.
  CheckForDisconnect(true, true);
  const std::span<const uint8_t> run = UsableRun(ABuffer, ALength, AOffset);
  if (FIntercept == nullptr) {
    SendAll(run); // straight from the caller's bytes
    return;
  }
  // The intercept may replace the block (encrypt, compress), so it works on a copy.
  TBytes block(run.begin(), run.end());
  FIntercept->Send(block);
  SendAll(block);
}

// Hands the whole block to the transport and repeats only after a partial send.
void TIdIOHandler::SendAll(std::span<const uint8_t> ABytes) {
  size_t position = 0;
  while (position < ABytes.size()) {
    const std::span<const uint8_t> rest = ABytes.subspan(position);
    const auto sent = static_cast<size_t>(SendChecked(rest));
    TIdAntiFreezeBase::DoProcess(false);
    if (sent == 0) {
      // A transport that takes nothing has lost its peer; without this the loop would
      // never end while unread input is buffered.
      FClosedGracefully = true;
      CheckForDisconnect(true, true);
      throw EIdConnClosedGracefully(std::string(RSConnectionClosedGracefully));
    }
    CheckForDisconnect(true, false);
    DoWork(wmWrite, static_cast<int64_t>(sent));
    position += sent;
  }
}

int32_t TIdIOHandler::SendChecked(std::span<const uint8_t> ABuffer) {
  int32_t sent = 0;
  try {
    sent = SendToTarget(ABuffer);
  } catch (const EIdSocketError& e) {
    NoteSendFailure(e.LastError());
    throw;
  }
  if (sent < 0) {
    const int code = GStack() != nullptr ? GStack()->WSGetLastError() : 0;
    NoteSendFailure(code);
    TIdStack::RaiseSocketError(code);
  }
  if (static_cast<size_t>(sent) > ABuffer.size()) {
    throw EIdException(std::string(RSTransportOverran));
  }
  return sent;
}

// A connection shut down, aborted or reset under the writer is closed and marked closed
// before the failure is raised; bytes already sent stay sent.
void TIdIOHandler::NoteSendFailure(int AErrorCode) {
  if (AErrorCode == Id_WSAESHUTDOWN || AErrorCode == Id_WSAECONNABORTED ||
      AErrorCode == Id_WSAECONNRESET) {
    FClosedGracefully = true;
    Close();
  }
}

// ---- Text and values
// ------------------------------------------------------------------------------

void TIdIOHandler::Write(const std::string& AOut, TEncoding* AEncoding) {
  if (AOut.empty()) {
    return;
  }
  Write(EncodingOrDefault(AEncoding)->GetBytes(AOut));
}

void TIdIOHandler::WriteLn(TEncoding* AEncoding) {
  WriteLn(std::string(), AEncoding);
}

void TIdIOHandler::WriteLn(const std::string& AOut, TEncoding* AEncoding) {
  // Text and line end leave as one block, so a line is never split across two sends.
  Write(AOut + "\r\n", AEncoding);
}

void TIdIOHandler::WriteLnRFC(const std::string& AOut, TEncoding* AEncoding) {
  // Dot stuffing (RFC 5321 section 4.5.2): a leading dot is doubled so that the line cannot
  // be taken for the end-of-message line.
  if (!AOut.empty() && AOut.front() == '.') {
    WriteLn("." + AOut, AEncoding);
  } else {
    WriteLn(AOut, AEncoding);
  }
}

void TIdIOHandler::Write(const TStrings& AValue, bool AWriteLinesCount, TEncoding* AEncoding) {
  const bool ownBuffering = !WriteBufferingActive();
  if (ownBuffering) {
    WriteBufferOpen(-1);
  }
  try {
    if (AWriteLinesCount) {
      Write(static_cast<int32_t>(AValue.size()), true);
    }
    for (const std::string& line : AValue) {
      WriteLn(line, AEncoding);
    }
    if (ownBuffering) {
      WriteBufferClose();
    }
  } catch (...) {
    // Nothing of a half-written list goes out.
    if (ownBuffering) {
      WriteBufferCancel();
    }
    throw;
  }
}

void TIdIOHandler::WriteRFCStrings(const TStrings& AStrings, bool AWriteTerminator,
                                   TEncoding* AEncoding) {
  for (const std::string& line : AStrings) {
    WriteLnRFC(line, AEncoding);
  }
  if (AWriteTerminator) {
    WriteLn(".", AEncoding);
  }
}

void TIdIOHandler::Write(uint8_t AValue) {
  Write(TBytes{AValue});
}

void TIdIOHandler::Write(char AValue, TEncoding* AEncoding) {
  Write(std::string(1, AValue), AEncoding);
}

void TIdIOHandler::Write(int16_t AValue, bool AConvert) {
  Write(ValueBytes(AValue, AConvert));
}

void TIdIOHandler::Write(int32_t AValue, bool AConvert) {
  Write(ValueBytes(AValue, AConvert));
}

void TIdIOHandler::Write(uint32_t AValue, bool AConvert) {
  Write(ValueBytes(AValue, AConvert));
}

void TIdIOHandler::Write(int64_t AValue, bool AConvert) {
  Write(ValueBytes(AValue, AConvert));
}

// ---- Streams and files
// ------------------------------------------------------------------------------

void TIdIOHandler::Write(TStream& AStream, int64_t ASize, bool AWriteByteCount) {
  const int64_t size = StreamUploadSize(AStream, ASize);
  if (size >= kLargeStreamThreshold && !FLargeStream) {
    throw EIdIOHandlerRequiresLargeStream(std::string(RSRequiresLargeStream));
  }
  if (AWriteByteCount) {
    if (FLargeStream) {
      Write(size, true);
    } else {
      Write(static_cast<int32_t>(size), true);
    }
  }
  BeginWork(wmWrite, size);
  try {
    WriteStreamBody(AStream, size);
  } catch (...) {
    EndWork(wmWrite);
    throw;
  }
  EndWork(wmWrite);
}

// A negative size is the rest from the current position, 0 the whole stream from its start,
// a positive size that many bytes from the current position.
int64_t TIdIOHandler::StreamUploadSize(TStream& AStream, int64_t ASize) {
  if (ASize < 0) {
    return std::max<int64_t>(AStream.Size() - AStream.Position(), 0);
  }
  if (ASize == 0) {
    AStream.SetPosition(0);
    return AStream.Size();
  }
  return ASize;
}

// The stream is read into one block that is reused for every piece and sent from there.
void TIdIOHandler::WriteStreamBody(TStream& AStream, int64_t ASize) {
  if (ASize <= 0) {
    return;
  }
  TBytes block(static_cast<size_t>(std::min<int64_t>(FSendBufferSize, ASize)));
  int64_t remaining = ASize;
  while (remaining > 0) {
    const int64_t want = std::min<int64_t>(static_cast<int64_t>(block.size()), remaining);
    const int64_t got = AStream.Read(block.data(), want);
    if (got <= 0) {
      throw EIdNoDataToRead(std::string(RSNoDataToRead));
    }
    Write(block, static_cast<int32_t>(got), 0);
    remaining -= got;
  }
}

int64_t TIdIOHandler::WriteFile(const std::string& AFile, bool AEnableTransferFile) {
  (void)AEnableTransferFile; // only a transport with a file-transmission service uses it
  std::error_code error;
  if (!std::filesystem::is_regular_file(AFile, error)) {
    throw EIdFileNotFound(FormatInvariant(RSFileNotFound, {AFile}));
  }
  TIdReadFileExclusiveStream stream(AFile);
  Write(stream, 0, false);
  return stream.Size();
}

// ---- Write buffering
// ----------------------------------------------------------------------------------

void TIdIOHandler::WriteBufferOpen(int32_t AThreshold) {
  if (FWriteBuffer != nullptr) {
    FWriteBuffer->Clear();
  } else {
    FWriteBuffer = std::make_unique<TIdBuffer>();
  }
  FWriteBufferThreshold = AThreshold;
}

void TIdIOHandler::WriteBufferFlush(int32_t AByteCount) {
  if (FWriteBuffer == nullptr || FWriteBuffer->Size() == 0) {
    return;
  }
  const int32_t size = FWriteBuffer->Size();
  const int32_t count = AByteCount < 0 ? size : std::min(AByteCount, size);
  TBytes bytes;
  FWriteBuffer->ExtractToBytes(bytes, count);
  WriteDirect(bytes);
}

// Threshold-sized pieces go out while the buffer holds at least that many bytes; the rest
// waits for the next write, flush or close.
void TIdIOHandler::FlushWriteBufferAtThreshold() {
  if (FWriteBufferThreshold <= 0) {
    return;
  }
  while (FWriteBuffer != nullptr && FWriteBuffer->Size() >= FWriteBufferThreshold) {
    WriteBufferFlush(FWriteBufferThreshold);
  }
}

void TIdIOHandler::WriteBufferClose() {
  try {
    WriteBufferFlush(-1);
  } catch (...) {
    FWriteBuffer.reset();
    throw;
  }
  FWriteBuffer.reset();
}

void TIdIOHandler::WriteBufferCancel() {
  WriteBufferClear();
  WriteBufferClose();
}

void TIdIOHandler::WriteBufferClear() {
  if (FWriteBuffer != nullptr) {
    FWriteBuffer->Clear();
  }
}

} // namespace ftpc

#include "examples/cli/LineEnds.h"

#include <string>

namespace ftpc::cli {

namespace {

[[noreturn]] void RaiseUnsupported(const char* AOperation) {
  throw EIdStreamError(std::string("line-end conversion cannot ") + AOperation);
}

} // namespace

// ---- Downloads ---------------------------------------------------------------------------

int64_t CrlfToLfWriter::Write(const void* ABuffer, int64_t ACount) {
  const auto* bytes = static_cast<const char*>(ABuffer);
  for (int64_t i = 0; i < ACount; ++i) {
    const char byte = bytes[i];
    if (FPendingCR && byte != '\n') {
      Put('\r');
    }
    FPendingCR = byte == '\r';
    if (!FPendingCR) {
      Put(byte);
    }
  }
  Flush();
  FTaken += ACount;
  return ACount;
}

void CrlfToLfWriter::Finish() {
  if (FPendingCR) {
    FPendingCR = false;
    Put('\r');
  }
  Flush();
}

void CrlfToLfWriter::Put(char AByte) {
  if (FStaged == FStage.size()) {
    Flush();
  }
  FStage[FStaged++] = AByte;
}

void CrlfToLfWriter::Flush() {
  FDest.WriteBuffer(FStage.data(), static_cast<int64_t>(FStaged));
  FStaged = 0;
}

int64_t CrlfToLfWriter::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  const int64_t target = AOrigin == soBeginning ? AOffset : FTaken + AOffset;
  if (target != FTaken) {
    RaiseUnsupported("seek");
  }
  return FTaken;
}

int64_t CrlfToLfWriter::Read(void*, int64_t) {
  RaiseUnsupported("read a download");
}

void CrlfToLfWriter::SetSize(int64_t) {
  RaiseUnsupported("resize");
}

// ---- Uploads -----------------------------------------------------------------------------

LfToCrlfReader::LfToCrlfReader(std::unique_ptr<TStream> ASource) : FSource(std::move(ASource)) {
  FSize = CountConvertedSize();
  Seek(0, soBeginning);
}

int64_t LfToCrlfReader::CountConvertedSize() {
  FSource->SetPosition(0);
  int64_t size = 0;
  bool lastWasCR = false;
  for (int64_t got;
       (got = FSource->Read(FStage.data(), static_cast<int64_t>(FStage.size()))) > 0;) {
    for (int64_t i = 0; i < got; ++i) {
      size += FStage[i] == '\n' && !lastWasCR ? 2 : 1;
      lastWasCR = FStage[i] == '\r';
    }
  }
  return size;
}

bool LfToCrlfReader::Refill() {
  FNext = 0;
  FStaged = static_cast<size_t>(FSource->Read(FStage.data(), static_cast<int64_t>(FStage.size())));
  return FStaged > 0;
}

int64_t LfToCrlfReader::Read(void* ABuffer, int64_t ACount) {
  auto* out = static_cast<char*>(ABuffer);
  int64_t done = 0;
  while (done < ACount) {
    if (FPendingLF) {
      out[done++] = '\n';
      FPendingLF = false;
      continue;
    }
    if (FNext == FStaged && !Refill()) {
      break;
    }
    const char byte = FStage[FNext++];
    if (byte == '\n' && !FLastWasCR) {
      out[done++] = '\r';
      FPendingLF = true;
    } else {
      out[done++] = byte;
    }
    FLastWasCR = byte == '\r';
  }
  FPosition += done;
  return done;
}

int64_t LfToCrlfReader::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  if (AOffset == 0 && AOrigin == soBeginning) {
    FSource->SetPosition(0);
    FStaged = FNext = 0;
    FLastWasCR = FPendingLF = false;
    FPosition = 0;
  } else if (AOffset != 0 || AOrigin != soCurrent) {
    RaiseUnsupported("seek");
  }
  return FPosition;
}

int64_t LfToCrlfReader::Write(const void*, int64_t) {
  RaiseUnsupported("write an upload");
}

void LfToCrlfReader::SetSize(int64_t) {
  RaiseUnsupported("resize");
}

} // namespace ftpc::cli

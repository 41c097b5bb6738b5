#include "global/IdStream.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace ftpc {

int64_t TStream::Size() {
  const int64_t position = Seek(0, soCurrent);
  const int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

void TStream::ReadBuffer(void* ABuffer, int64_t ACount) {
  auto* out = static_cast<uint8_t*>(ABuffer);
  while (ACount > 0) {
    const int64_t got = Read(out, ACount);
    if (got <= 0) {
      throw EIdStreamError("Stream read error");
    }
    out += got;
    ACount -= got;
  }
}

void TStream::WriteBuffer(const void* ABuffer, int64_t ACount) {
  const auto* in = static_cast<const uint8_t*>(ABuffer);
  while (ACount > 0) {
    const int64_t put = Write(in, ACount);
    if (put <= 0) {
      throw EIdStreamError("Stream write error");
    }
    in += put;
    ACount -= put;
  }
}

// ---- TMemoryStream -----------------------------------------------------------------------

int64_t TMemoryStream::Read(void* ABuffer, int64_t ACount) {
  const int64_t available = Size() - FPosition;
  const int64_t count = ACount < available ? ACount : available;
  if (count <= 0) {
    return 0;
  }
  std::memcpy(ABuffer, FData.data() + FPosition, static_cast<size_t>(count));
  FPosition += count;
  return count;
}

int64_t TMemoryStream::Write(const void* ABuffer, int64_t ACount) {
  if (ACount <= 0) {
    return 0;
  }
  const int64_t end = FPosition + ACount;
  if (end > Size()) {
    FData.resize(static_cast<size_t>(end));
  }
  std::memcpy(FData.data() + FPosition, ABuffer, static_cast<size_t>(ACount));
  FPosition = end;
  return ACount;
}

int64_t TMemoryStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  int64_t base = 0;
  if (AOrigin == soCurrent) {
    base = FPosition;
  } else if (AOrigin == soEnd) {
    base = Size();
  }
  const int64_t target = base + AOffset;
  if (target < 0) {
    throw EIdStreamError("Invalid stream position");
  }
  FPosition = target;
  return FPosition;
}

void TMemoryStream::SetSize(int64_t ASize) {
  FData.resize(static_cast<size_t>(ASize < 0 ? 0 : ASize));
  if (FPosition > Size()) {
    FPosition = Size();
  }
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
}

// ---- TFileStream -------------------------------------------------------------------------

TFileStream::TFileStream(int AHandle, std::string AFileName)
    : FHandle(AHandle), FFileName(std::move(AFileName)) {}

TFileStream::~TFileStream() {
  if (FHandle >= 0) {
    ::close(FHandle);
  }
}

int64_t TFileStream::Read(void* ABuffer, int64_t ACount) {
  if (ACount <= 0) {
    return 0;
  }
  for (;;) {
    const ssize_t got = ::read(FHandle, ABuffer, static_cast<size_t>(ACount));
    if (got >= 0) {
      return got;
    }
    if (errno != EINTR) {
      throw EIdFileStreamError(std::string("Stream read error: ") + std::strerror(errno));
    }
  }
}

int64_t TFileStream::Write(const void* ABuffer, int64_t ACount) {
  if (ACount <= 0) {
    return 0;
  }
  for (;;) {
    const ssize_t put = ::write(FHandle, ABuffer, static_cast<size_t>(ACount));
    if (put >= 0) {
      return put;
    }
    if (errno != EINTR) {
      throw EIdFileStreamError(std::string("Stream write error: ") + std::strerror(errno));
    }
  }
}

int64_t TFileStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  const int whence = AOrigin == soBeginning ? SEEK_SET : AOrigin == soCurrent ? SEEK_CUR : SEEK_END;
  const off_t position = ::lseek(FHandle, static_cast<off_t>(AOffset), whence);
  if (position < 0) {
    throw EIdFileStreamError(std::string("Stream seek error: ") + std::strerror(errno));
  }
  return position;
}

void TFileStream::SetSize(int64_t ASize) {
  if (::ftruncate(FHandle, static_cast<off_t>(ASize)) != 0) {
    throw EIdFileStreamError(std::string("Stream size error: ") + std::strerror(errno));
  }
}

int64_t TFileStream::Size() {
  const off_t current = ::lseek(FHandle, 0, SEEK_CUR);
  const off_t end = ::lseek(FHandle, 0, SEEK_END);
  ::lseek(FHandle, current, SEEK_SET);
  return end;
}

} // namespace ftpc

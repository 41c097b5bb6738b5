#include "global/IdStream.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>

#include "base/IdResourceStrings.h"
#include "global/IdFileApi.h"

namespace ftpc {

bool LocalPathExists(const std::string& AFileName) {
  std::error_code error;
  const auto status = std::filesystem::symlink_status(AFileName, error);
  return status.type() != std::filesystem::file_type::not_found &&
         status.type() != std::filesystem::file_type::none;
}

namespace {

constexpr int64_t kMaxInt64 = std::numeric_limits<int64_t>::max();
constexpr int64_t kMaxBlock = std::numeric_limits<int32_t>::max();

// The bytes of an array from AOffset that a write of ACount (negative: all) may take.
int64_t UsableBytes(const TBytes& ABytes, int64_t ACount, int64_t AOffset) {
  return UsableCount(static_cast<int64_t>(ABytes.size()), AOffset, ACount);
}

} // namespace

// ---- TStream -----------------------------------------------------------------------------

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
      throw EIdStreamError(std::string(RSStreamReadError));
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
      throw EIdStreamError(std::string(RSStreamWriteError));
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
  if (ACount > kMaxInt64 - FPosition) {
    throw EIdStreamError(std::string(RSInvalidStreamPosition));
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
  if (AOffset < -base || (AOffset > 0 && AOffset > kMaxInt64 - base)) {
    throw EIdStreamError(std::string(RSInvalidStreamPosition));
  }
  FPosition = base + AOffset;
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
  detail::FileClose(FHandle);
}

void TFileStream::RaiseIOError(std::string_view AOperation, const std::error_code& AError) const {
  throw EIdFileStreamError(FormatInvariant(
      RSFileStreamIOError, {AOperation, detail::ExpandFileName(FFileName), AError.message()}));
}

int64_t TFileStream::Read(void* ABuffer, int64_t ACount) {
  if (ACount <= 0) {
    return 0;
  }
  std::error_code error;
  const int64_t got = detail::FileRead(FHandle, ABuffer, ACount, error);
  if (got < 0) {
    RaiseIOError(RSStreamReadError, error);
  }
  return got;
}

int64_t TFileStream::Write(const void* ABuffer, int64_t ACount) {
  if (ACount <= 0) {
    return 0;
  }
  std::error_code error;
  const int64_t put = detail::FileWrite(FHandle, ABuffer, ACount, error);
  if (put < 0) {
    RaiseIOError(RSStreamWriteError, error);
  }
  return put;
}

int64_t TFileStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  std::error_code error;
  const int64_t position = detail::FileSeek(FHandle, AOffset, AOrigin, error);
  if (position < 0) {
    RaiseIOError(RSStreamSeekError, error);
  }
  return position;
}

void TFileStream::SetSize(int64_t ASize) {
  std::error_code error;
  if (!detail::FileTruncate(FHandle, ASize, error)) {
    RaiseIOError(RSStreamSizeError, error);
  }
}

int64_t TFileStream::Size() {
  std::error_code error;
  const int64_t size = detail::FileSize(FHandle, error);
  if (size < 0) {
    RaiseIOError(RSStreamSizeError, error);
  }
  return size;
}

// ---- The four file streams ---------------------------------------------------------------

namespace {

constexpr detail::TIdFileOpenMode kCreateMode{true, true, false, false};
constexpr detail::TIdFileOpenMode kAppendExistingMode{false, true, true, false};
constexpr detail::TIdFileOpenMode kReadSharedMode{false, false, true, true};
constexpr detail::TIdFileOpenMode kReadDenyWriteMode{false, false, true, false};

template <typename TError>
[[noreturn]] void RaiseOpenFailure(std::string_view AFormat, const std::string& AFile,
                                   const std::error_code& AError) {
  throw TError(FormatInvariant(AFormat, {detail::ExpandFileName(AFile), AError.message()}));
}

int OpenOrRaise(const std::string& AFile, const detail::TIdFileOpenMode& AMode) {
  std::error_code error;
  const int handle = detail::FileOpen(AFile, AMode, error);
  if (handle == detail::InvalidFileHandle) {
    if (AMode.CreateAlways) {
      RaiseOpenFailure<EIdFileCreateError>(RSFileCreateError, AFile, error);
    }
    RaiseOpenFailure<EIdFileOpenError>(RSFileOpenError, AFile, error);
  }
  return handle;
}

// Tries the existing file first rather than testing for it, so an existing file is never
// truncated; only a missing one is created.
int OpenForAppend(const std::string& AFile) {
  std::error_code error;
  const int handle = detail::FileOpen(AFile, kAppendExistingMode, error);
  if (handle != detail::InvalidFileHandle) {
    return handle;
  }
  if (error == std::errc::no_such_file_or_directory) {
    return OpenOrRaise(AFile, kCreateMode);
  }
  RaiseOpenFailure<EIdFileOpenError>(RSFileOpenError, AFile, error);
}

} // namespace

TIdFileCreateStream::TIdFileCreateStream(const std::string& AFile)
    : TFileStream(OpenOrRaise(AFile, kCreateMode), AFile) {}

TIdAppendFileStream::TIdAppendFileStream(const std::string& AFile)
    : TFileStream(OpenForAppend(AFile), AFile) {
  Seek(0, soEnd);
}

TIdReadFileNonExclusiveStream::TIdReadFileNonExclusiveStream(const std::string& AFile)
    : TFileStream(OpenOrRaise(AFile, kReadSharedMode), AFile) {}

TIdReadFileExclusiveStream::TIdReadFileExclusiveStream(const std::string& AFile)
    : TFileStream(OpenOrRaise(AFile, kReadDenyWriteMode), AFile) {}

// ---- TIdBaseStream -----------------------------------------------------------------------

namespace {

// A staging array above this size is given back after use rather than kept for the next
// block, so one huge write does not pin its memory for the stream's lifetime.
constexpr size_t kMaxRetainedStage = size_t{1} << 20;

} // namespace

int64_t TIdBaseStream::Read(void* ABuffer, int64_t ACount) {
  if (ACount <= 0) {
    return 0;
  }
  const auto count = static_cast<size_t>(std::min(ACount, kMaxBlock));
  const int64_t got = ReadIntoSpan({static_cast<uint8_t*>(ABuffer), count});
  return std::clamp<int64_t>(got, 0, static_cast<int64_t>(count));
}

int64_t TIdBaseStream::Write(const void* ABuffer, int64_t ACount) {
  if (ACount < 1) {
    return 0;
  }
  const auto count = static_cast<size_t>(std::min(ACount, kMaxBlock));
  const int64_t put = WriteFromSpan({static_cast<const uint8_t*>(ABuffer), count});
  return std::clamp<int64_t>(put, 0, static_cast<int64_t>(count));
}

int64_t TIdBaseStream::Seek(int64_t AOffset, TSeekOrigin AOrigin) {
  return SeekPosition(AOffset, AOrigin);
}

void TIdBaseStream::SetSize(int64_t ASize) {
  ChangeSize(ASize);
}

int64_t TIdBaseStream::ReadIntoSpan(std::span<uint8_t> VBuffer) {
  const auto count = static_cast<int32_t>(VBuffer.size());
  FStage.assign(VBuffer.size(), 0);
  const int32_t got = ReadIntoBytes(FStage, 0, count);
  // The subclass may have resized the array; never copy more than it still holds.
  const auto copied =
      std::min({static_cast<size_t>(std::max(got, 0)), VBuffer.size(), FStage.size()});
  std::memcpy(VBuffer.data(), FStage.data(), copied);
  ReleaseLargeStage();
  return static_cast<int64_t>(copied);
}

int64_t TIdBaseStream::WriteFromSpan(std::span<const uint8_t> ABuffer) {
  FStage.assign(ABuffer.begin(), ABuffer.end());
  const int32_t put = WriteFromBytes(FStage, 0, static_cast<int32_t>(ABuffer.size()));
  ReleaseLargeStage();
  return put;
}

void TIdBaseStream::ReleaseLargeStage() {
  if (FStage.capacity() > kMaxRetainedStage) {
    TBytes().swap(FStage);
  }
}

// ---- Byte-array helpers ------------------------------------------------------------------

int64_t TIdStreamHelperVCL::ReadBytes(TStream& AStream, TBytes& VBytes, int64_t ACount,
                                      int64_t AOffset) {
  if (AOffset < 0) {
    RaiseAssertionFailure("ReadBytes");
  }
  if (ACount < 0) {
    ACount = std::max<int64_t>(AStream.Size() - AStream.Position(), 0);
  }
  if (ACount == 0) {
    return 0;
  }
  if (ACount > kMaxInt64 - AOffset) {
    RaiseAssertionFailure("ReadBytes");
  }
  const auto needed = static_cast<size_t>(AOffset + ACount);
  if (VBytes.size() < needed) {
    VBytes.resize(needed);
  }
  return AStream.Read(VBytes.data() + AOffset, ACount);
}

int64_t TIdStreamHelperVCL::Write(TStream& AStream, const TBytes& ABytes, int64_t ACount,
                                  int64_t AOffset) {
  if (AOffset < 0) {
    RaiseAssertionFailure("Write");
  }
  const int64_t count = UsableBytes(ABytes, ACount, AOffset);
  if (count <= 0) {
    return 0;
  }
  return AStream.Write(ABytes.data() + AOffset, count);
}

int64_t TIdStreamHelperVCL::Seek(TStream& AStream, int64_t AOffset, TSeekOrigin AOrigin) {
  return AStream.Seek(AOffset, AOrigin);
}

int64_t ReadBytesFromStream(TStream& AStream, TBytes& VBytes, int64_t AByteCount) {
  if (AByteCount > kMaxBlock || AByteCount < std::numeric_limits<int32_t>::min()) {
    RaiseAssertionFailure("ReadBytesFromStream");
  }
  return TIdStreamHelperVCL::ReadBytes(AStream, VBytes, AByteCount, 0);
}

void WriteBytesToStream(TStream& AStream, const TBytes& ABytes, int64_t ASize, int64_t AIndex) {
  if (AIndex < 0) {
    RaiseAssertionFailure("WriteBytesToStream");
  }
  const int64_t count = UsableBytes(ABytes, ASize, AIndex);
  if (count > 0) {
    AStream.WriteBuffer(ABytes.data() + AIndex, count);
  }
}

} // namespace ftpc

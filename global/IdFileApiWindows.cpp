// Windows file calls. Share modes are the system's own (CreateFile share flags): the system
// refuses a conflicting opener before it truncates or changes anything.
#include "global/IdFileApi.h"

#include <windows.h>

#include <filesystem>

namespace ftpc::detail {

namespace {

std::error_code LastError() {
  return {static_cast<int>(::GetLastError()), std::system_category()};
}

// A file HANDLE is a kernel handle, whose upper 32 bits are always zero on 64-bit Windows (the
// rule that lets 32-bit and 64-bit processes share handles), so the API's int holds it; the
// invalid handle (all bits set) reads as -1, which is InvalidFileHandle.
HANDLE Native(TIdFileHandle AHandle) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(AHandle));
}

TIdFileHandle FromNative(HANDLE AHandle) {
  return static_cast<TIdFileHandle>(reinterpret_cast<intptr_t>(AHandle));
}

// File names are UTF-8 text; the system's wide calls take every name the file system holds.
std::wstring WideName(const std::string& AFileName) {
  if (AFileName.empty()) {
    return {};
  }
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, AFileName.data(),
                                         static_cast<int>(AFileName.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, AFileName.data(), static_cast<int>(AFileName.size()),
                        wide.data(), size);
  return wide;
}

DWORD ShareFlags(const TIdFileOpenMode& AMode) {
  // Others may always delete or rename, as on Linux.
  DWORD share = FILE_SHARE_DELETE;
  if (AMode.OthersMayRead) {
    share |= FILE_SHARE_READ;
  }
  if (AMode.OthersMayWrite) {
    share |= FILE_SHARE_WRITE;
  }
  return share;
}

DWORD MoveMethod(TSeekOrigin AOrigin) {
  switch (AOrigin) {
  case soBeginning:
    return FILE_BEGIN;
  case soCurrent:
    return FILE_CURRENT;
  case soEnd:
    return FILE_END;
  }
  return FILE_BEGIN;
}

// ReadFile and WriteFile move at most this much per call.
constexpr int64_t kMaxTransferPerCall = 0x7FFFF000;

DWORD ChunkOf(int64_t ARemaining) {
  return static_cast<DWORD>(ARemaining < kMaxTransferPerCall ? ARemaining : kMaxTransferPerCall);
}

} // namespace

TIdFileHandle FileOpen(const std::string& AFileName, const TIdFileOpenMode& AMode,
                       std::error_code& VError) {
  VError.clear();
  const DWORD access = GENERIC_READ | (AMode.ReadWrite ? GENERIC_WRITE : 0);
  // A directory cannot be opened without FILE_FLAG_BACKUP_SEMANTICS: it fails as denied.
  HANDLE handle = ::CreateFileW(WideName(AFileName).c_str(), access, ShareFlags(AMode), nullptr,
                                AMode.CreateAlways ? CREATE_ALWAYS : OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    VError = LastError();
    return InvalidFileHandle;
  }
  return FromNative(handle);
}

void FileClose(TIdFileHandle AHandle) noexcept {
  if (AHandle != InvalidFileHandle) {
    ::CloseHandle(Native(AHandle));
  }
}

int64_t FileRead(TIdFileHandle AHandle, void* ABuffer, int64_t ACount, std::error_code& VError) {
  auto* out = static_cast<uint8_t*>(ABuffer);
  int64_t done = 0;
  while (done < ACount) {
    DWORD got = 0;
    if (!::ReadFile(Native(AHandle), out + done, ChunkOf(ACount - done), &got, nullptr)) {
      VError = LastError();
      return -1;
    }
    if (got == 0) {
      break;
    }
    done += got;
  }
  return done;
}

int64_t FileWrite(TIdFileHandle AHandle, const void* ABuffer, int64_t ACount,
                  std::error_code& VError) {
  const auto* in = static_cast<const uint8_t*>(ABuffer);
  int64_t done = 0;
  while (done < ACount) {
    DWORD put = 0;
    if (!::WriteFile(Native(AHandle), in + done, ChunkOf(ACount - done), &put, nullptr)) {
      VError = LastError();
      return -1;
    }
    done += put;
  }
  return done;
}

int64_t FileSeek(TIdFileHandle AHandle, int64_t AOffset, TSeekOrigin AOrigin,
                 std::error_code& VError) {
  LARGE_INTEGER distance{};
  distance.QuadPart = AOffset;
  LARGE_INTEGER position{};
  if (!::SetFilePointerEx(Native(AHandle), distance, &position, MoveMethod(AOrigin))) {
    VError = LastError();
    return -1;
  }
  return position.QuadPart;
}

int64_t FileSize(TIdFileHandle AHandle, std::error_code& VError) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(Native(AHandle), &size)) {
    VError = LastError();
    return -1;
  }
  return size.QuadPart;
}

bool FileTruncate(TIdFileHandle AHandle, int64_t ASize, std::error_code& VError) {
  // The end of file moves to the file pointer; the pointer is put back afterwards.
  const int64_t position = FileSeek(AHandle, 0, soCurrent, VError);
  if (position < 0 || FileSeek(AHandle, ASize, soBeginning, VError) < 0) {
    return false;
  }
  const bool truncated = ::SetEndOfFile(Native(AHandle)) != 0;
  if (!truncated) {
    VError = LastError();
  }
  std::error_code ignored;
  FileSeek(AHandle, position, soBeginning, ignored);
  return truncated;
}

std::string ExpandFileName(const std::string& AFileName) {
  std::error_code error;
  const std::filesystem::path absolute =
      std::filesystem::absolute(std::filesystem::path(WideName(AFileName)), error);
  if (error) {
    return AFileName;
  }
  const std::u8string text = absolute.lexically_normal().u8string();
  return std::string(text.begin(), text.end());
}

std::string PlatformTempDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) {
    return {};
  }
  std::filesystem::path directory(buffer);
  const std::u8string text = directory.u8string();
  std::string result(text.begin(), text.end());
  while (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) {
    result.pop_back();
  }
  return result;
}

} // namespace ftpc::detail

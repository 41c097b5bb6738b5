// The client program's operating-system calls on Windows.
#include <windows.h>

#include <io.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "examples/cli/Platform.h"
#include "examples/cli/Progress.h"

namespace ftpc::cli::platform {

namespace {

// Longest path the wide file calls take.
constexpr size_t kMaxWidePath = 32768;
// Others may read what the program writes, and rename or delete it, as on Linux.
constexpr DWORD kShareReadAndDelete = FILE_SHARE_READ | FILE_SHARE_DELETE;

// File names are UTF-8 text; the wide calls take every name the file system holds.
std::wstring WideName(const std::string& APath) {
  return std::filesystem::path(
             std::u8string(reinterpret_cast<const char8_t*>(APath.data()), APath.size()))
      .wstring();
}

[[noreturn]] void RaiseSystemError(const std::string& AWhat, const std::string& APath,
                                   DWORD AError = ::GetLastError()) {
  const std::string reason = std::system_category().message(static_cast<int>(AError));
  throw std::runtime_error(AWhat + " '" + APath + "': " + reason);
}

[[noreturn]] void RaiseExists(const std::string& APath) {
  throw std::runtime_error("'" + APath + "' already exists");
}

bool IsExistsError(DWORD AError) {
  return AError == ERROR_FILE_EXISTS || AError == ERROR_ALREADY_EXISTS;
}

// The file handle becomes a stream that owns it. A kernel handle's upper 32 bits are always
// zero on 64-bit Windows, so the stream's int holds it (as in the library's own file calls).
class HandleStream : public TFileStream {
public:
  HandleStream(HANDLE AHandle, std::string AFileName)
      : TFileStream(static_cast<int>(reinterpret_cast<intptr_t>(AHandle)), std::move(AFileName)) {}
};

HANDLE Open(const std::string& APath, DWORD AAccess, DWORD ACreation, DWORD AFlags) {
  return ::CreateFileW(WideName(APath).c_str(), AAccess, kShareReadAndDelete | FILE_SHARE_WRITE,
                       nullptr, ACreation, FILE_ATTRIBUTE_NORMAL | AFlags, nullptr);
}

enum class TLinks { Followed, Refused };

// A disk file (with ALinks Refused: opened as itself, and no link); the handle is closed when
// it is not one.
void RequireRegularFile(HANDLE AHandle, const std::string& APath, TLinks ALinks) {
  BY_HANDLE_FILE_INFORMATION info{};
  const bool disk = ::GetFileType(AHandle) == FILE_TYPE_DISK &&
                    ::GetFileInformationByHandle(AHandle, &info) != 0;
  if (disk && ALinks == TLinks::Refused &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    ::CloseHandle(AHandle);
    throw std::runtime_error("'" + APath + "' is a symbolic link, which is never followed");
  }
  if (!disk || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::CloseHandle(AHandle);
    throw std::runtime_error("'" + APath + "' is not a regular file");
  }
}

// ---- Removal of the temporary file when Ctrl-C or closing the console ends the program ----

// A slot is free (0), being filled (1) or armed (2); the handler deletes only armed ones.
struct PendingTemporary {
  std::atomic<int> State{0};
  wchar_t Path[kMaxWidePath];
};
PendingTemporary gPending[kInterruptCleanupSlots];

// Runs on a thread of its own; the files are open with delete sharing, so they go once the
// process has ended. FALSE lets the default handler end the process.
BOOL WINAPI RemoveTemporariesOnInterrupt(DWORD /*AEvent*/) {
  for (PendingTemporary& pending : gPending) {
    int armed = 2;
    if (pending.State.compare_exchange_strong(armed, 0)) {
      ::DeleteFileW(pending.Path);
    }
  }
  return FALSE;
}

} // namespace

std::unique_ptr<TStream> OpenRegularForReading(const std::string& APath) {
  HANDLE handle = Open(APath, GENERIC_READ, OPEN_EXISTING, 0);
  if (handle == INVALID_HANDLE_VALUE) {
    RaiseSystemError("cannot open", APath);
  }
  RequireRegularFile(handle, APath, TLinks::Followed);
  return std::make_unique<HandleStream>(handle, APath);
}

// CREATE_NEW fails when anything holds the name.
std::unique_ptr<TStream> CreateExclusive(const std::string& APath) {
  HANDLE handle = ::CreateFileW(WideName(APath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                kShareReadAndDelete, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
  if (handle == INVALID_HANDLE_VALUE && IsExistsError(::GetLastError())) {
    return nullptr;
  }
  if (handle == INVALID_HANDLE_VALUE) {
    RaiseSystemError("cannot create", APath);
  }
  return std::make_unique<HandleStream>(handle, APath);
}

// FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which is then refused.
std::unique_ptr<TStream> OpenRegularForWriting(const std::string& APath) {
  HANDLE handle =
      Open(APath, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (handle == INVALID_HANDLE_VALUE) {
    RaiseSystemError("cannot open", APath);
  }
  RequireRegularFile(handle, APath, TLinks::Refused);
  return std::make_unique<HandleStream>(handle, APath);
}

// Without MOVEFILE_REPLACE_EXISTING the system refuses a name that something holds.
void Rename(const std::string& AFrom, const std::string& ATo, bool AReplace) {
  if (::MoveFileExW(WideName(AFrom).c_str(), WideName(ATo).c_str(),
                    AReplace ? MOVEFILE_REPLACE_EXISTING : 0) != 0) {
    return;
  }
  const DWORD error = ::GetLastError();
  if (!AReplace && IsExistsError(error)) {
    RaiseExists(ATo);
  }
  RaiseSystemError(AReplace ? "cannot replace" : "cannot create", ATo, error);
}

void RemoveFile(const std::string& APath) noexcept { ::DeleteFileW(WideName(APath).c_str()); }

int ArmInterruptCleanup(const std::string& APath) {
  const std::wstring wide = WideName(APath);
  if (wide.size() >= kMaxWidePath) {
    return -1;
  }
  static const bool installed = ::SetConsoleCtrlHandler(RemoveTemporariesOnInterrupt, TRUE) != 0;
  static_cast<void>(installed);
  for (int slot = 0; slot < kInterruptCleanupSlots; ++slot) {
    int free = 0;
    if (gPending[slot].State.compare_exchange_strong(free, 1)) {
      wide.copy(gPending[slot].Path, wide.size());
      gPending[slot].Path[wide.size()] = L'\0';
      gPending[slot].State.store(2);
      return slot;
    }
  }
  return -1;
}

void DisarmInterruptCleanup(int ASlot) {
  if (ASlot >= 0 && ASlot < kInterruptCleanupSlots) {
    gPending[ASlot].State.store(0);
  }
}

unsigned long ProcessId() { return ::GetCurrentProcessId(); }

// Windows has no signal for it: the write fails with an error already.
void IgnoreBrokenPipes() {}

} // namespace ftpc::cli::platform

namespace ftpc::cli {

bool StderrIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

} // namespace ftpc::cli

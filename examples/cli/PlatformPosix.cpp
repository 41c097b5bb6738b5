// The client program's operating-system calls on POSIX systems.
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "examples/cli/Platform.h"
#include "examples/cli/Progress.h"

namespace ftpc::cli::platform {

namespace {

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

[[noreturn]] void RaiseSystemError(const std::string& AWhat, const std::string& APath,
                                   int AError = errno) {
  throw std::runtime_error(AWhat + " '" + APath + "': " + std::strerror(AError));
}

// The descriptor becomes a stream that owns it.
class DescriptorStream : public TFileStream {
public:
  DescriptorStream(int AHandle, std::string AFileName)
      : TFileStream(AHandle, std::move(AFileName)) {}
};

void RequireRegularFile(int AHandle, const std::string& APath) {
  struct stat info {};
  if (::fstat(AHandle, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(AHandle);
    throw std::runtime_error("'" + APath + "' is not a regular file");
  }
}

[[noreturn]] void RaiseExists(const std::string& APath) {
  throw std::runtime_error("'" + APath + "' already exists");
}

// ---- Removal of the temporary file when a signal ends the program ------------------------

// A slot is free (0), being filled (1) or armed (2); the handler reads only armed ones.
struct PendingTemporary {
  std::atomic<int> State{0};
  char Path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the state");
PendingTemporary gPending[kInterruptCleanupSlots];

extern "C" void RemoveTemporariesAndDie(int ASignal) {
  for (PendingTemporary& pending : gPending) {
    if (pending.State.load() == 2) {
      ::unlink(pending.Path);
    }
  }
  std::signal(ASignal, SIG_DFL);
  std::raise(ASignal);
}

} // namespace

std::unique_ptr<TStream> OpenRegularForReading(const std::string& APath) {
  const int handle = ::open(APath.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle < 0) {
    RaiseSystemError("cannot open", APath);
  }
  RequireRegularFile(handle, APath);
  return std::make_unique<DescriptorStream>(handle, APath);
}

// O_EXCL never follows a link and never reuses a name that someone else holds.
std::unique_ptr<TStream> CreateExclusive(const std::string& APath) {
  const int handle = ::open(APath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
  if (handle < 0 && errno == EEXIST) {
    return nullptr;
  }
  if (handle < 0) {
    RaiseSystemError("cannot create", APath);
  }
  return std::make_unique<DescriptorStream>(handle, APath);
}

std::unique_ptr<TStream> OpenRegularForWriting(const std::string& APath) {
  const int handle = ::open(APath.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (handle < 0 && errno == ELOOP) {
    throw std::runtime_error("'" + APath + "' is a symbolic link, which is never followed");
  }
  if (handle < 0) {
    RaiseSystemError("cannot open", APath);
  }
  RequireRegularFile(handle, APath);
  return std::make_unique<DescriptorStream>(handle, APath);
}

// Without replacing, a hard link gives the new name in one step and fails when something holds
// it; a file system without hard links gets the name claimed first.
void Rename(const std::string& AFrom, const std::string& ATo, bool AReplace) {
  if (AReplace) {
    if (::rename(AFrom.c_str(), ATo.c_str()) != 0) {
      RaiseSystemError("cannot replace", ATo);
    }
    return;
  }
  if (::link(AFrom.c_str(), ATo.c_str()) == 0) {
    ::unlink(AFrom.c_str());
    return;
  }
  if (errno == EEXIST) {
    RaiseExists(ATo);
  }
  const int claim = ::open(ATo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
  if (claim < 0 && errno == EEXIST) {
    RaiseExists(ATo);
  }
  if (claim < 0) {
    RaiseSystemError("cannot create", ATo);
  }
  ::close(claim);
  if (::rename(AFrom.c_str(), ATo.c_str()) != 0) {
    RaiseSystemError("cannot create", ATo);
  }
}

void RemoveFile(const std::string& APath) noexcept { ::unlink(APath.c_str()); }

int ArmInterruptCleanup(const std::string& APath) {
  if (APath.size() >= PATH_MAX) {
    return -1;
  }
  static const bool installed = [] {
    for (const int signal : kCleanupSignals) {
      std::signal(signal, RemoveTemporariesAndDie);
    }
    return true;
  }();
  static_cast<void>(installed);
  for (int slot = 0; slot < kInterruptCleanupSlots; ++slot) {
    int free = 0;
    if (gPending[slot].State.compare_exchange_strong(free, 1)) {
      std::memcpy(gPending[slot].Path, APath.c_str(), APath.size() + 1);
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

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

} // namespace ftpc::cli::platform

namespace ftpc::cli {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

} // namespace ftpc::cli

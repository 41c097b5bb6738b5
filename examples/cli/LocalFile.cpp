#include "examples/cli/LocalFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ftpc::cli {

namespace {

constexpr int kTemporaryNameAttempts = 16;
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

// ---- Removal of the temporary file when a signal ends the program ------------------------

char gPendingTemporary[PATH_MAX];
volatile std::sig_atomic_t gPendingArmed = 0;

extern "C" void RemoveTemporaryAndDie(int ASignal) {
  if (gPendingArmed != 0) {
    ::unlink(gPendingTemporary);
  }
  std::signal(ASignal, SIG_DFL);
  std::raise(ASignal);
}

void ArmSignalCleanup(const std::string& APath) {
  if (APath.size() >= sizeof gPendingTemporary) {
    return;
  }
  std::memcpy(gPendingTemporary, APath.c_str(), APath.size() + 1);
  gPendingArmed = 1;
  for (const int signal : kCleanupSignals) {
    std::signal(signal, RemoveTemporaryAndDie);
  }
}

void DisarmSignalCleanup() {
  gPendingArmed = 0;
}

// ---- Temporary files ---------------------------------------------------------------------

std::string TemporaryNameFor(const std::string& ALocal) {
  static std::mt19937_64 generator{std::random_device{}()};
  const std::filesystem::path local(ALocal);
  const std::string suffix =
      std::to_string(::getpid()) + "-" + std::to_string(generator() % 1000000);
  return (local.parent_path() / ("." + local.filename().string() + ".part-" + suffix)).string();
}

// O_EXCL never follows a link and never reuses a name that someone else holds.
std::pair<std::string, int> CreateTemporary(const std::string& ALocal) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    std::string name = TemporaryNameFor(ALocal);
    const int handle = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
    if (handle >= 0) {
      return {std::move(name), handle};
    }
    if (errno != EEXIST) {
      RaiseSystemError("cannot create a file beside", ALocal);
    }
  }
  RaiseSystemError("cannot create a file beside", ALocal, EEXIST);
}

// Gives ATemporary the name ALocal unless something already holds it. A hard link does that
// in one step; a file system without hard links gets the name claimed first.
void MoveWithoutReplacing(const std::string& ATemporary, const std::string& ALocal) {
  if (::link(ATemporary.c_str(), ALocal.c_str()) == 0) {
    ::unlink(ATemporary.c_str());
    return;
  }
  if (errno == EEXIST) {
    throw std::runtime_error("'" + ALocal + "' already exists");
  }
  const int claim = ::open(ALocal.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
  if (claim < 0 && errno == EEXIST) {
    throw std::runtime_error("'" + ALocal + "' already exists");
  }
  if (claim < 0) {
    RaiseSystemError("cannot create", ALocal);
  }
  ::close(claim);
  if (::rename(ATemporary.c_str(), ALocal.c_str()) != 0) {
    RaiseSystemError("cannot create", ALocal);
  }
}

void RequireRegularFile(int AHandle, const std::string& APath) {
  struct stat info {};
  if (::fstat(AHandle, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(AHandle);
    throw std::runtime_error("'" + APath + "' is not a regular file");
  }
}

} // namespace

std::unique_ptr<TStream> OpenForUpload(const std::string& APath) {
  const int handle = ::open(APath.c_str(), O_RDONLY | O_CLOEXEC);
  if (handle < 0) {
    RaiseSystemError("cannot open", APath);
  }
  RequireRegularFile(handle, APath);
  return std::make_unique<DescriptorStream>(handle, APath);
}

DownloadTarget DownloadTarget::Fresh(const std::string& ALocal) {
  auto [temporary, handle] = CreateTemporary(ALocal);
  ArmSignalCleanup(temporary);
  auto stream = std::make_unique<DescriptorStream>(handle, temporary);
  return DownloadTarget(ALocal, std::move(temporary), std::move(stream));
}

DownloadTarget DownloadTarget::Resumed(const std::string& ALocal) {
  const int handle = ::open(ALocal.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (handle < 0 && errno == ELOOP) {
    throw std::runtime_error("'" + ALocal + "' is a symbolic link, which is never followed");
  }
  if (handle < 0) {
    RaiseSystemError("cannot open", ALocal);
  }
  RequireRegularFile(handle, ALocal);
  auto stream = std::make_unique<DescriptorStream>(handle, ALocal);
  stream->Seek(0, soEnd);
  return DownloadTarget(ALocal, std::string(), std::move(stream));
}

DownloadTarget::DownloadTarget(std::string ALocal, std::string ATemporary,
                               std::unique_ptr<TStream> AStream)
    : FLocal(std::move(ALocal)), FTemporary(std::move(ATemporary)), FStream(std::move(AStream)) {}

DownloadTarget::DownloadTarget(DownloadTarget&& AOther) noexcept
    : FLocal(std::move(AOther.FLocal)), FTemporary(std::exchange(AOther.FTemporary, {})),
      FStream(std::move(AOther.FStream)) {}

DownloadTarget::~DownloadTarget() {
  FStream.reset();
  if (!FTemporary.empty()) {
    ::unlink(FTemporary.c_str());
    DisarmSignalCleanup();
  }
}

void DownloadTarget::Commit(bool AReplace) {
  FStream.reset();
  if (FTemporary.empty()) {
    return;
  }
  if (AReplace) {
    if (::rename(FTemporary.c_str(), FLocal.c_str()) != 0) {
      RaiseSystemError("cannot replace", FLocal);
    }
  } else {
    MoveWithoutReplacing(FTemporary, FLocal);
  }
  FTemporary.clear();
  DisarmSignalCleanup();
}

} // namespace ftpc::cli

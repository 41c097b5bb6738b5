// POSIX file calls. Share modes become advisory record locks held on the open file
// description (OFD locks): they conflict between any two openers, in one process or in two,
// and are released when the descriptor closes.
#include "global/IdFileApi.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace ftpc::detail {

namespace {

// Each access right (read, write) has two lock bytes: one that every opener holding the right
// locks shared, one that every opener denying the right to others locks shared. Shared locks
// never block one another, so an opener announces itself first and then probes the opposite
// bytes for other openers. When two conflicting openers race, at least one of them sees the
// other; neither can miss both. A single whole-file lock could not express this: two readers
// that deny writing must coexist, yet each must exclude a writer.
// The bytes lie far past the data of ordinary files and below 2 GiB, which every lock
// protocol can address.
constexpr off_t kShareLockBase = 0x7FFF0000;

enum TShareSlot : off_t {
  ssHasRead = 0,
  ssHasWrite = 1,
  ssDeniesRead = 2,
  ssDeniesWrite = 3,
};

std::error_code LastError() {
  return {errno, std::generic_category()};
}

struct flock LockRequest(short AType, TShareSlot ASlot) {
  struct flock request {};
  request.l_type = AType;
  request.l_whence = SEEK_SET;
  request.l_start = kShareLockBase + ASlot;
  request.l_len = 1;
  request.l_pid = 0; // required for open-file-description locks
  return request;
}

bool ShareLocksUnsupported(int AError) {
  return AError == ENOLCK || AError == EINVAL || AError == EOPNOTSUPP;
}

// Locks ASlot shared; false with VError set on failure.
bool Announce(int AHandle, TShareSlot ASlot, std::error_code& VError) {
  struct flock request = LockRequest(F_RDLCK, ASlot);
  if (::fcntl(AHandle, F_OFD_SETLK, &request) == 0) {
    return true;
  }
  VError = LastError();
  return false;
}

// True when another opener holds a lock on ASlot.
bool OthersHold(int AHandle, TShareSlot ASlot, std::error_code& VError) {
  struct flock probe = LockRequest(F_WRLCK, ASlot);
  if (::fcntl(AHandle, F_OFD_GETLK, &probe) != 0) {
    VError = LastError();
    return false;
  }
  return probe.l_type != F_UNLCK;
}

struct TShareClaim {
  bool Claims[4] = {};
};

// The slots an opener announces: its own access rights and the rights it denies others.
TShareClaim ClaimsOf(const TIdFileOpenMode& AMode) {
  TShareClaim claim;
  claim.Claims[ssHasRead] = true;
  claim.Claims[ssHasWrite] = AMode.ReadWrite;
  claim.Claims[ssDeniesRead] = !AMode.OthersMayRead;
  claim.Claims[ssDeniesWrite] = !AMode.OthersMayWrite;
  return claim;
}

// The slot whose holders conflict with a holder of ASlot.
TShareSlot Opposite(TShareSlot ASlot) {
  switch (ASlot) {
  case ssHasRead:
    return ssDeniesRead;
  case ssHasWrite:
    return ssDeniesWrite;
  case ssDeniesRead:
    return ssHasRead;
  case ssDeniesWrite:
    return ssHasWrite;
  }
  return ssHasRead;
}

// Announces AMode's slots, then checks that no other opener holds a conflicting one. A file
// system without record locks gives no protection but does not stop the open.
bool AcquireShareMode(int AHandle, const TIdFileOpenMode& AMode, std::error_code& VError) {
  const TShareClaim claim = ClaimsOf(AMode);
  constexpr TShareSlot kSlots[] = {ssHasRead, ssHasWrite, ssDeniesRead, ssDeniesWrite};
  for (TShareSlot slot : kSlots) {
    if (claim.Claims[slot] && !Announce(AHandle, slot, VError)) {
      if (ShareLocksUnsupported(VError.value())) {
        VError.clear();
        return true;
      }
      return false;
    }
  }
  for (TShareSlot slot : kSlots) {
    if (claim.Claims[slot] && OthersHold(AHandle, Opposite(slot), VError)) {
      VError = std::make_error_code(std::errc::device_or_resource_busy);
      return false;
    }
    if (VError) {
      return false;
    }
  }
  return true;
}

int OpenFlags(const TIdFileOpenMode& AMode) {
  int flags = O_CLOEXEC | O_NOCTTY | (AMode.ReadWrite ? O_RDWR : O_RDONLY);
  if (AMode.CreateAlways) {
    flags |= O_CREAT; // truncated only once the share mode is held
  }
  return flags;
}

int OpenRetrying(const std::string& AFileName, int AFlags) {
  for (;;) {
    const int handle = ::open(AFileName.c_str(), AFlags, 0666);
    if (handle >= 0 || errno != EINTR) {
      return handle;
    }
  }
}

// A file to be created is first opened exclusively: VCreated then says this open made it, and
// such a file needs no truncating while it is still empty (on ext4 a truncation is a
// journalled inode update, about 30 us a file). A file that exists already is opened as it is
// and truncated later, which also marks it modified, as O_TRUNC would.
int OpenDescriptor(const std::string& AFileName, const TIdFileOpenMode& AMode, bool& VCreated) {
  const int flags = OpenFlags(AMode);
  VCreated = false;
  if (AMode.CreateAlways) {
    const int handle = OpenRetrying(AFileName, flags | O_EXCL);
    if (handle >= 0 || errno != EEXIST) {
      VCreated = handle >= 0;
      return handle;
    }
  }
  return OpenRetrying(AFileName, flags);
}

bool IsDirectory(int AHandle) {
  struct stat info {};
  return ::fstat(AHandle, &info) == 0 && S_ISDIR(info.st_mode);
}

// Asked once the share mode is held: no other opener of this library can write after that.
bool IsEmpty(int AHandle) {
  struct stat info {};
  return ::fstat(AHandle, &info) == 0 && info.st_size == 0;
}

// Everything after open(2) that can still refuse the file.
bool PrepareOpened(int AHandle, const TIdFileOpenMode& AMode, bool ACreated,
                   std::error_code& VError) {
  if (IsDirectory(AHandle)) {
    VError = std::make_error_code(std::errc::is_a_directory);
    return false;
  }
  if (!AcquireShareMode(AHandle, AMode, VError)) {
    return false;
  }
  return !AMode.CreateAlways || (ACreated && IsEmpty(AHandle)) ||
         FileTruncate(AHandle, 0, VError);
}

int Whence(TSeekOrigin AOrigin) {
  switch (AOrigin) {
  case soBeginning:
    return SEEK_SET;
  case soCurrent:
    return SEEK_CUR;
  case soEnd:
    return SEEK_END;
  }
  return SEEK_SET;
}

// read(2) and write(2) move at most this much per call on Linux.
constexpr int64_t kMaxTransferPerCall = 0x7FFFF000;

// The most one write(2) puts into a file: a download's whole receive block (256 KiB). The
// page cache takes each write in folios up to the write's size. Measured on a 2-CPU VM, 1 GiB
// downloads interleaved with other clients that wrote and deleted 1 GiB just before (or 6 s
// before), on a quiet machine, beside two fuzzers and beside a compiler: 256 KiB writes took
// a median 0.98 / 0.99 / 1.47 / 1.56 s, 32 KiB writes 1.14 / 1.32 / 1.69 / 1.75 s with a fifth
// more CPU; 64 and 128 KiB fell between. (An earlier loaded-machine run had favoured 32 KiB;
// it did not recur.)
constexpr int64_t kMaxWritePerCall = 256 * 1024;

size_t ChunkOf(int64_t ARemaining, int64_t AMax = kMaxTransferPerCall) {
  return static_cast<size_t>(ARemaining < AMax ? ARemaining : AMax);
}

} // namespace

TIdFileHandle FileOpen(const std::string& AFileName, const TIdFileOpenMode& AMode,
                       std::error_code& VError) {
  VError.clear();
  bool created = false;
  const int handle = OpenDescriptor(AFileName, AMode, created);
  if (handle < 0) {
    VError = LastError();
    return InvalidFileHandle;
  }
  if (!PrepareOpened(handle, AMode, created, VError)) {
    FileClose(handle);
    return InvalidFileHandle;
  }
  return handle;
}

void FileClose(TIdFileHandle AHandle) noexcept {
  if (AHandle != InvalidFileHandle) {
    ::close(AHandle); // no retry on EINTR: the descriptor is released either way on Linux
  }
}

int64_t FileRead(TIdFileHandle AHandle, void* ABuffer, int64_t ACount, std::error_code& VError) {
  auto* out = static_cast<uint8_t*>(ABuffer);
  int64_t done = 0;
  while (done < ACount) {
    const ssize_t got = ::read(AHandle, out + done, ChunkOf(ACount - done));
    if (got == 0) {
      break;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      VError = LastError();
      return -1;
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
    const ssize_t put = ::write(AHandle, in + done, ChunkOf(ACount - done, kMaxWritePerCall));
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      VError = LastError();
      return -1;
    }
    done += put;
  }
  return done;
}

int64_t FileSeek(TIdFileHandle AHandle, int64_t AOffset, TSeekOrigin AOrigin,
                 std::error_code& VError) {
  const off_t position = ::lseek(AHandle, static_cast<off_t>(AOffset), Whence(AOrigin));
  if (position < 0) {
    VError = LastError();
    return -1;
  }
  return position;
}

int64_t FileSize(TIdFileHandle AHandle, std::error_code& VError) {
  struct stat info {};
  if (::fstat(AHandle, &info) != 0) {
    VError = LastError();
    return -1;
  }
  return info.st_size;
}

bool FileTruncate(TIdFileHandle AHandle, int64_t ASize, std::error_code& VError) {
  for (;;) {
    if (::ftruncate(AHandle, static_cast<off_t>(ASize)) == 0) {
      return true;
    }
    if (errno != EINTR) {
      VError = LastError();
      return false;
    }
  }
}

std::string ExpandFileName(const std::string& AFileName) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(AFileName, error);
  return error ? AFileName : absolute.lexically_normal().string();
}

std::string PlatformTempDirectory() {
  const char* fromEnvironment = std::getenv("TMPDIR");
  if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
    return fromEnvironment;
  }
  return "/tmp";
}

} // namespace ftpc::detail

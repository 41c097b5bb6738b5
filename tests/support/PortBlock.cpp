#include "support/PortBlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ftpc::test {

namespace {

const char* const kLockDirectory = "/tmp/ftpc-port-blocks";

FileDescriptor LockBlock(uint16_t AIndex) {
  const std::string path = std::string(kLockDirectory) + "/block-" + std::to_string(AIndex) + ".lock";
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666));
  if (!fd.Valid() || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    return {};
  }
  return fd;
}

bool BlockIsFree(uint16_t AFirst, const std::vector<std::string>& AAddresses) {
  for (const std::string& address : AAddresses) {
    for (uint16_t port = AFirst; port < AFirst + PortBlock::kSize; ++port) {
      if (!ListenProblem(address, port).empty()) {
        return false;
      }
    }
  }
  return true;
}

} // namespace

std::unique_ptr<PortBlock> PortBlock::Claim(const std::vector<std::string>& AAddresses,
                                            std::string& VError) {
  ::mkdir(kLockDirectory, 01777);
  ::chmod(kLockDirectory, 01777);  // shared by test processes of every user
  const uint16_t start = static_cast<uint16_t>(::getpid() % kBlockCount);
  for (uint16_t i = 0; i < kBlockCount; ++i) {
    const uint16_t index = static_cast<uint16_t>((start + i) % kBlockCount);
    FileDescriptor lock = LockBlock(index);
    const uint16_t first = static_cast<uint16_t>(kFirstPort + index * kSize);
    if (lock.Valid() && BlockIsFree(first, AAddresses)) {
      return std::unique_ptr<PortBlock>(new PortBlock(std::move(lock), first));
    }
  }
  VError = "no free block of " + std::to_string(kSize) + " ports between " +
           std::to_string(kFirstPort) + " and " + std::to_string(kFirstPort + kBlockCount * kSize);
  return nullptr;
}

} // namespace ftpc::test

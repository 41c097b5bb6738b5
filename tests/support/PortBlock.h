// Blocks of consecutive loopback ports for servers that need fixed ports on their command line
// (control port, passive range). A block is held through an flock on a file in /tmp, so test
// processes running in parallel never pick the same one, and it is bind-probed on every given
// address before it is handed out. Ports lie below the ephemeral range, so clients' source
// ports and kernel-chosen listener ports cannot take them meanwhile.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/LoopbackSocket.h"

namespace ftpc::test {

class PortBlock {
public:
  static constexpr uint16_t kSize = 32;
  static constexpr uint16_t kFirstPort = 20000;
  static constexpr uint16_t kBlockCount = 350;  // up to port 31199, below 32768

  // A block whose every port can be bound on each of AAddresses; nullptr with VError when none.
  static std::unique_ptr<PortBlock> Claim(const std::vector<std::string>& AAddresses,
                                          std::string& VError);
  uint16_t First() const { return FFirst; }
  uint16_t Last() const { return static_cast<uint16_t>(FFirst + kSize - 1); }

private:
  PortBlock(FileDescriptor ALock, uint16_t AFirst) : FLock(std::move(ALock)), FFirst(AFirst) {}
  FileDescriptor FLock;  // the flock lasts as long as this descriptor
  uint16_t FFirst;
};

} // namespace ftpc::test

// Real SOCKS proxies (dante, microsocks) started on a loopback port for end-to-end tests, each
// in a temporary directory, and stopped with all their processes afterwards.
//
// Facts tests can rely on:
//   - Address() is 127.0.0.1; Port() the proxy's port. Targets may be 127.0.0.1 or ::1.
//   - dante speaks SOCKS 4 and 5 (no 4A) with CONNECT and BIND; with a password it takes
//     RFC 1929 against the system user ftptest/ftppass and refuses SOCKS 4 (reply 91).
//   - microsocks speaks SOCKS 5 CONNECT only (BIND gets reply 7); with a password it takes
//     kUser/kPassword.
//   - Log() is the proxy's log: dante names every connection it makes, microsocks every target.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

#include "support/PortBlock.h"
#include "support/TempDir.h"

namespace ftpc::test {

enum class RealProxyKind { Dante, Microsocks };

const char* RealProxyName(RealProxyKind AKind);

class RealSocksProxy {
public:
  static constexpr const char* kUser = "ftptest";
  static constexpr const char* kPassword = "ftppass";

  // Starts the proxy and waits (bounded) until it accepts connections; nullptr with VError.
  static std::unique_ptr<RealSocksProxy> Start(RealProxyKind AKind, bool AWithPassword,
                                               std::string& VError);
  ~RealSocksProxy();
  RealSocksProxy(const RealSocksProxy&) = delete;
  RealSocksProxy& operator=(const RealSocksProxy&) = delete;

  // Stops the proxy and every process it started; false if any survived.
  bool Stop();

  const std::string& Address() const { return FAddress; }
  uint16_t Port() const { return FPorts->First(); }
  std::string Log() const;

private:
  RealSocksProxy(RealProxyKind AKind, bool AWithPassword);
  bool Launch(std::string& VError);

  RealProxyKind FKind;
  bool FWithPassword;
  std::string FAddress = "127.0.0.1";
  TempDir FDir;
  std::unique_ptr<PortBlock> FPorts;
  pid_t FPid = -1;
};

// Why AKind cannot run here (not installed; dante with a password needs root and the test
// user), or "" when it can.
std::string RealProxyUnavailable(RealProxyKind AKind, bool AWithPassword);

// For test bodies: starts the proxy, or returns nullptr after marking the test skipped (proxy
// unavailable here; failed instead under CI=true) or failed (it would not start).
std::unique_ptr<RealSocksProxy> StartRealSocksProxyOrSkip(RealProxyKind AKind,
                                                          bool AWithPassword = false);

} // namespace ftpc::test

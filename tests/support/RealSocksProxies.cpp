#include "support/RealSocksProxies.h"

#include <cstdlib>
#include <poll.h>
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TestProcess.h"

namespace ftpc::test {

namespace {

constexpr const char* kDante = "/usr/sbin/danted";
constexpr const char* kMicrosocks = "/usr/bin/microsocks";
constexpr Millis kStartTimeout(10000);
constexpr Millis kProbeTimeout(1000);
constexpr Millis kProbeInterval(5);

const char* ProgramOf(RealProxyKind AKind) {
  return AKind == RealProxyKind::Dante ? kDante : kMicrosocks;
}

// "external: lo" lets dante reach targets on 127.0.0.1 and ::1 and bind on 127.0.0.1 for
// BIND. The user lines let it read the shadow file for RFC 1929 and then drop privileges.
std::string DanteConfig(const std::string& ALog, uint16_t APort, bool AWithPassword) {
  const std::string method = AWithPassword ? "username" : "none";
  std::string config = "logoutput: " + ALog + "\n" +
                       "internal: 127.0.0.1 port = " + std::to_string(APort) +
                       "\nexternal: lo\nclientmethod: none\n" + "socksmethod: " + method + "\n";
  if (::geteuid() == 0) {
    config += "user.privileged: root\nuser.unprivileged: nobody\n";
  }
  return config + "client pass {\n  from: 0/0 to: 0/0\n  log: error\n}\n"
                  "socks pass {\n  from: 0/0 to: 0/0\n  command: connect bind bindreply\n"
                  "  log: connect disconnect error\n}\n";
}

bool CiRun() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

// Polls until the proxy accepts a connection.
std::string WaitForListener(const std::string& AAddress, uint16_t APort, pid_t APid) {
  const auto deadline = Clock::now() + kStartTimeout;
  for (;;) {
    if (ChildExited(APid)) {
      return "the proxy exited during start-up";
    }
    std::string error;
    if (ConnectTo(AAddress, APort, kProbeTimeout, error).Valid()) {
      return {};
    }
    if (Clock::now() >= deadline) {
      return "not listening within " + std::to_string(kStartTimeout.count()) + " ms: " + error;
    }
    ::poll(nullptr, 0, static_cast<int>(kProbeInterval.count()));
  }
}

} // namespace

const char* RealProxyName(RealProxyKind AKind) {
  return AKind == RealProxyKind::Dante ? "dante" : "microsocks";
}

RealSocksProxy::RealSocksProxy(RealProxyKind AKind, bool AWithPassword)
    : FKind(AKind), FWithPassword(AWithPassword),
      FDir(std::string("ftpc-") + RealProxyName(AKind) + ".", 0755) {}

RealSocksProxy::~RealSocksProxy() {
  Stop();
}

std::unique_ptr<RealSocksProxy> RealSocksProxy::Start(RealProxyKind AKind, bool AWithPassword,
                                                      std::string& VError) {
  std::unique_ptr<RealSocksProxy> proxy(new RealSocksProxy(AKind, AWithPassword));
  if (!proxy->Launch(VError)) {
    return nullptr;
  }
  return proxy;
}

bool RealSocksProxy::Launch(std::string& VError) {
  FPorts = PortBlock::Claim({FAddress}, VError);
  if (!FPorts) {
    return false;
  }
  const std::string port = std::to_string(Port());
  std::vector<std::string> argv;
  if (FKind == RealProxyKind::Dante) {
    const std::string config = FDir.File("danted.conf");
    if (!WriteTextFile(config, DanteConfig(FDir.File("proxy.log"), Port(), FWithPassword))) {
      VError = "cannot write " + config;
      return false;
    }
    argv = {kDante, "-f", config, "-p", FDir.File("danted.pid"), "-N", "1"};
  } else {
    argv = {kMicrosocks, "-i", FAddress, "-p", port};
    if (FWithPassword) {
      argv.insert(argv.end(), {"-u", kUser, "-P", kPassword});
    }
  }
  FPid = SpawnDaemon(argv, FDir.File("proxy.log"), VError);
  if (FPid < 0) {
    return false;
  }
  VError = WaitForListener(FAddress, Port(), FPid);
  if (!VError.empty()) {
    VError += "; log: " + Log();
    Stop();
    return false;
  }
  return true;
}

bool RealSocksProxy::Stop() {
  if (FPid < 0) {
    return true;
  }
  const bool clean = StopProcessTree(FPid).empty();
  FPid = -1;
  return clean;
}

std::string RealSocksProxy::Log() const {
  return ReadTextFile(FDir.File("proxy.log"));
}

std::string RealProxyUnavailable(RealProxyKind AKind, bool AWithPassword) {
  if (::access(ProgramOf(AKind), X_OK) != 0) {
    return std::string(ProgramOf(AKind)) +
           " is not installed (run scripts/install-deps.sh as root)";
  }
  if (AKind == RealProxyKind::Dante && AWithPassword) {
    if (::geteuid() != 0) {
      return "dante needs root to check system passwords";
    }
    if (::getpwnam(RealSocksProxy::kUser) == nullptr) {
      return std::string("no system user ") + RealSocksProxy::kUser +
             " (run scripts/install-deps.sh as root)";
    }
  }
  return {};
}

std::unique_ptr<RealSocksProxy> StartRealSocksProxyOrSkip(RealProxyKind AKind, bool AWithPassword) {
  const std::string unavailable = RealProxyUnavailable(AKind, AWithPassword);
  if (!unavailable.empty()) {
    if (CiRun()) {
      ADD_FAILURE() << unavailable << " (CI=true: every real proxy must run)";
    } else {
      [&] { GTEST_SKIP() << unavailable; }();
    }
    return nullptr;
  }
  std::string error;
  std::unique_ptr<RealSocksProxy> proxy = RealSocksProxy::Start(AKind, AWithPassword, error);
  if (!proxy) {
    ADD_FAILURE() << "cannot start " << RealProxyName(AKind) << ": " << error;
  }
  return proxy;
}

} // namespace ftpc::test

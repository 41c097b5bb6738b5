#include "support/RealFtpServers.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/RawFtpClient.h"
#include "support/TestProcess.h"

namespace ftpc::test {

namespace {

constexpr Millis kStartTimeout(20000);
constexpr Millis kProbeTimeout(2000);
constexpr Millis kCommandTimeout(60000);
constexpr Millis kProbeInterval(10);
constexpr int kStartAttempts = 3;
constexpr size_t kLogTail = 2000;

// SHA-512 crypt of RealFtpServer::kPassword, for the virtual users of proftpd and pure-ftpd.
// (pure-pw would hash with argon2id, which makes every login take seconds.)
const char* const kPasswordHash =
    "$6$ftpctestsalt$.1zuGguIqVYePT/QoClWWkcO0dYCJHNce52VlMb6kELPmW5taleTzWp6sGkCVBlTVoGnlZxC4b2kdgwTC.wgY/";
const char* const kPython = "/usr/bin/python3";  // pyftpdlib is packaged for this one only
const char* const kPyftpdlibModule = "/usr/lib/python3/dist-packages/pyftpdlib/__init__.py";
const char* const kProftpd = "/usr/sbin/proftpd";
const char* const kProftpdModules = "/usr/lib/proftpd";
const char* const kOpenssl = "/usr/bin/openssl";
const char* const kAnyLoopback = "127.0.0.*";

// Plain FTP, explicit TLS ("tls") and IPv6 on one small script (argv: address port root user
// password passive-low passive-high plain|tls [pem]).
const char* const kPyftpdlibScript = R"(import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.servers import FTPServer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
addr, port, root, user, pw, lo, hi, mode = sys.argv[1:9]
auth = DummyAuthorizer()
auth.add_user(user, pw, root, perm='elradfmwMT')
if mode == 'plain':
    H = FTPHandler
else:
    class H(TLS_FTPHandler):
        pass
    H.certfile = sys.argv[9]
H.authorizer = auth
H.passive_ports = range(int(lo), int(hi) + 1)
FTPServer((addr, int(port)), H).serve_forever()
)";

struct TestUser {
  uid_t Uid = 0;
  gid_t Gid = 0;
};

bool LookupTestUser(TestUser& VUser) {
  const passwd* entry = ::getpwnam(RealFtpServer::kUser);
  if (entry == nullptr) {
    return false;
  }
  VUser = {entry->pw_uid, entry->pw_gid};
  return true;
}

bool IsExecutable(const std::string& APath) { return ::access(APath.c_str(), X_OK) == 0; }

bool Exists(const std::string& APath) { return ::access(APath.c_str(), F_OK) == 0; }

std::string ServersPrefix() {
  const char* prefix = std::getenv("FTPC_TEST_SERVERS_PREFIX");
  return prefix != nullptr && *prefix != '\0' ? prefix : "/opt/ftpconsole-test-servers";
}

// The unpacked copy first, then a system-wide install.
std::string FindProgram(const std::string& ARelative) {
  for (const std::string& candidate : {ServersPrefix() + ARelative, ARelative}) {
    if (IsExecutable(candidate)) {
      return candidate;
    }
  }
  return {};
}

std::string VsftpdProgram() { return FindProgram("/usr/sbin/vsftpd"); }
std::string PureFtpdProgram() { return FindProgram("/usr/sbin/pure-ftpd"); }
std::string PurePwProgram() { return FindProgram("/usr/bin/pure-pw"); }

bool IsIPv6(const std::string& AAddress) { return AAddress.find(':') != std::string::npos; }

bool CiRun() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::string(ci) == "true";
}

std::string Tail(const std::string& AText) {
  return AText.size() > kLogTail ? "..." + AText.substr(AText.size() - kLogTail) : AText;
}

std::string JoinLines(const std::vector<std::string>& ALines) {
  std::string text;
  for (const std::string& line : ALines) {
    text += line + "\n";
  }
  return text;
}

std::string MissingProgramsProblem(RealServerKind AKind, const RealFtpServerOptions& AOptions) {
  const std::string install = " (run scripts/install-deps.sh as root)";
  switch (AKind) {
  case RealServerKind::Vsftpd:
    return VsftpdProgram().empty() ? "vsftpd is not installed" + install : "";
  case RealServerKind::Proftpd:
    if (!IsExecutable(kProftpd)) {
      return "proftpd is not installed" + install;
    }
    return AOptions.Tls != RealServerTls::None && !Exists(std::string(kProftpdModules) + "/mod_tls.so")
               ? "proftpd's mod_tls is not installed" + install
               : "";
  case RealServerKind::PureFtpd:
    return PureFtpdProgram().empty() || PurePwProgram().empty() ? "pure-ftpd is not installed" + install : "";
  case RealServerKind::Pyftpdlib:
    return !IsExecutable(kPython) || !Exists(kPyftpdlibModule) ? "pyftpdlib is not installed" + install : "";
  }
  return "unknown server kind";
}

// Everything a configuration needs to know about one server instance.
struct Layout {
  const RealFtpServerOptions& Options;
  std::string Dir;
  std::string Root;
  uint16_t Port;
  uint16_t PassiveMin;
  uint16_t PassiveMax;
  TestUser User;
  const TestCertificate* Certificate;  // nullptr without TLS
};

std::string ExtraLines(const Layout& ALayout) { return JoinLines(ALayout.Options.Extra); }

std::vector<std::string> PlanVsftpd(const Layout& L, std::string& VError) {
  const bool v6 = IsIPv6(L.Options.Address);
  std::string config = std::string("listen=") + (v6 ? "NO" : "YES") + "\n" +
                       "listen_ipv6=" + (v6 ? "YES" : "NO") + "\n" +
                       (v6 ? "listen_address6=" : "listen_address=") + L.Options.Address + "\n" +
                       "listen_port=" + std::to_string(L.Port) + "\n" +
                       "anonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
                       "local_root=" + L.Root + "\n" +
                       "chroot_local_user=YES\nallow_writeable_chroot=YES\n"
                       "secure_chroot_dir=" + L.Dir + "/empty\n" +
                       "pam_service_name=ftpc-vsftpd-test\n"
                       "pasv_min_port=" + std::to_string(L.PassiveMin) + "\n" +
                       "pasv_max_port=" + std::to_string(L.PassiveMax) + "\n" +
                       "utf8_filesystem=YES\nxferlog_enable=YES\n"
                       // A network namespace per session makes every session end take a second.
                       "isolate_network=NO\n"
                       "vsftpd_log_file=" + L.Dir + "/vsftpd.log\n";
  if (L.Certificate != nullptr) {
    config += "ssl_enable=YES\nrsa_cert_file=" + L.Certificate->CertFile + "\nrsa_private_key_file=" +
              L.Certificate->KeyFile + "\nforce_local_logins_ssl=NO\nforce_local_data_ssl=NO\n";
    if (L.Options.Tls == RealServerTls::Implicit) {
      config += "implicit_ssl=YES\n";
    }
  }
  config += ExtraLines(L);
  ::mkdir((L.Dir + "/empty").c_str(), 0755);
  const std::string file = L.Dir + "/vsftpd.conf";
  if (!WriteTextFile(file, config, 0600)) {
    VError = "cannot write " + file;
    return {};
  }
  return {VsftpdProgram(), file};
}

std::vector<std::string> PlanProftpd(const Layout& L, std::string& VError) {
  const std::string uid = std::to_string(L.User.Uid);
  const std::string gid = std::to_string(L.User.Gid);
  const std::string user = RealFtpServer::kUser;
  // Every path that would default to /run or /var is pointed into the instance directory, so
  // that instances run side by side.
  std::string config = "ServerType standalone\nDefaultServer on\nServerName \"proftpd-test\"\n"
                       "Port " + std::to_string(L.Port) + "\n" +
                       "DefaultAddress " + L.Options.Address + "\n" +
                       "SocketBindTight on\nUseIPv6 on\nUser nobody\nGroup nogroup\n"
                       "PidFile " + L.Dir + "/proftpd.pid\n" +
                       "ScoreboardFile " + L.Dir + "/proftpd.scoreboard\n" +
                       "TransferLog " + L.Dir + "/xfer.log\n" +
                       "ControlsEngine off\nWtmpLog off\nDelayEngine off\nUseReverseDNS off\n"
                       "ModulePath " + kProftpdModules + "\n" +
                       "LoadModule mod_digest.c\nLoadModule mod_deflate.c\nLoadModule mod_site_misc.c\n"
                       "AuthOrder mod_auth_file.c\n"
                       "AuthUserFile " + L.Dir + "/passwd\n" +
                       "AuthGroupFile " + L.Dir + "/group\n" +
                       "RequireValidShell off\nDefaultRoot ~\n"
                       "PassivePorts " + std::to_string(L.PassiveMin) + " " + std::to_string(L.PassiveMax) + "\n" +
                       "AllowOverwrite on\nAllowStoreRestart on\nDeflateEngine on\nDigestEngine on\n";
  if (L.Certificate != nullptr) {
    // proftpd takes the first TLSProtocol line: one among Extra replaces this default.
    const bool ownProtocols = std::any_of(L.Options.Extra.begin(), L.Options.Extra.end(),
                                          [](const std::string& ALine) { return ALine.starts_with("TLSProtocol"); });
    config += "LoadModule mod_tls.c\nTLSEngine on\nTLSLog " + L.Dir + "/tls.log\n" +
              (ownProtocols ? "" : "TLSProtocol TLSv1.2 TLSv1.3\n") +
              "TLSRSACertificateFile " + L.Certificate->CertFile + "\n" +
              "TLSRSACertificateKeyFile " + L.Certificate->KeyFile + "\n" +
              "TLSRequired off\nTLSVerifyClient off\n";
    if (L.Options.Tls == RealServerTls::Implicit) {
      config += "TLSOptions UseImplicitSSL\n";
    }
  }
  config += ExtraLines(L);
  // A world-readable AuthUserFile is fatal at start-up.
  const bool written =
      WriteTextFile(L.Dir + "/passwd",
                    user + ":" + kPasswordHash + ":" + uid + ":" + gid + "::" + L.Root + ":/bin/false\n",
                    0600) &&
      WriteTextFile(L.Dir + "/group", user + ":x:" + gid + ":\n", 0600) &&
      WriteTextFile(L.Dir + "/proftpd.conf", config, 0600);
  if (!written) {
    VError = "cannot write the proftpd configuration in " + L.Dir;
    return {};
  }
  return {kProftpd, "-n", "-c", L.Dir + "/proftpd.conf"};
}

std::vector<std::string> PlanPureFtpd(const Layout& L, std::string& VError) {
  // "/./" in the home directory marks the chroot point.
  const std::string entry = std::string(RealFtpServer::kUser) + ":" + kPasswordHash + ":" +
                            std::to_string(L.User.Uid) + ":" + std::to_string(L.User.Gid) + "::" +
                            L.Root + "/./::::::::::::\n";
  const std::string database = L.Dir + "/pureftpd.pdb";
  if (!WriteTextFile(L.Dir + "/passwd", entry, 0600) ||
      RunCommand({PurePwProgram(), "mkdb", database, "-f", L.Dir + "/passwd"}, L.Dir + "/pure-pw.log",
                 kCommandTimeout) != 0) {
    VError = "pure-pw mkdb failed: " + ReadTextFile(L.Dir + "/pure-pw.log");
    return {};
  }
  std::vector<std::string> argv{PureFtpdProgram(),
                                "-S", L.Options.Address + "," + std::to_string(L.Port),
                                "-p", std::to_string(L.PassiveMin) + ":" + std::to_string(L.PassiveMax),
                                "-l", "puredb:" + database,
                                "-E", "-A", "-H", "-f", "none",
                                "-O", "clf:" + L.Dir + "/xfer.log"};
  if (L.Certificate != nullptr) {
    argv.insert(argv.end(), {"-Y", "1", "-2", L.Certificate->CertFile + "," + L.Certificate->KeyFile});
  }
  argv.insert(argv.end(), L.Options.Extra.begin(), L.Options.Extra.end());
  return argv;
}

std::vector<std::string> PlanPyftpdlib(const Layout& L, std::string& VError) {
  const std::string script = L.Dir + "/server.py";
  if (!WriteTextFile(script, kPyftpdlibScript, 0644)) {
    VError = "cannot write " + script;
    return {};
  }
  std::vector<std::string> argv{kPython, script, L.Options.Address, std::to_string(L.Port), L.Root,
                                RealFtpServer::kUser, RealFtpServer::kPassword,
                                std::to_string(L.PassiveMin), std::to_string(L.PassiveMax)};
  if (L.Certificate != nullptr) {
    argv.insert(argv.end(), {"tls", L.Certificate->CombinedFile});
  } else {
    argv.emplace_back("plain");
  }
  return argv;
}

std::vector<std::string> Plan(RealServerKind AKind, const Layout& ALayout, std::string& VError) {
  switch (AKind) {
  case RealServerKind::Vsftpd:
    return PlanVsftpd(ALayout, VError);
  case RealServerKind::Proftpd:
    return PlanProftpd(ALayout, VError);
  case RealServerKind::PureFtpd:
    return PlanPureFtpd(ALayout, VError);
  case RealServerKind::Pyftpdlib:
    return PlanPyftpdlib(ALayout, VError);
  }
  VError = "unknown server kind";
  return {};
}

// Polls until the server greets with 220. vsftpd accepts connections even when its session set-up
// is broken and then greets with "500 OOPS: ...", so the code matters, not the connect. Under
// implicit TLS (AGreetsInClear false) the greeting is encrypted: the accepted connect counts.
std::string WaitForGreeting(const std::string& AAddress, uint16_t APort, pid_t APid,
                            bool AGreetsInClear) {
  const auto deadline = Clock::now() + kStartTimeout;
  for (;;) {
    if (ChildExited(APid)) {
      return "the server exited during start-up";
    }
    RawFtpClient probe;
    if (probe.Connect(AAddress, APort, kProbeTimeout)) {
      if (!AGreetsInClear) {
        return {};
      }
      const RawReply greeting = probe.ReadReply(kStartTimeout);
      if (greeting.Code == 220) {
        return {};
      }
      return "greeting: " + (greeting.Text.empty() ? probe.LastError() : JoinLines(greeting.Text));
    }
    if (Clock::now() >= deadline) {
      return "no greeting within " + std::to_string(kStartTimeout.count()) + " ms: " + probe.LastError();
    }
    ::poll(nullptr, 0, static_cast<int>(kProbeInterval.count()));
  }
}

} // namespace

const char* RealServerName(RealServerKind AKind) {
  switch (AKind) {
  case RealServerKind::Vsftpd:
    return "vsftpd";
  case RealServerKind::Proftpd:
    return "proftpd";
  case RealServerKind::PureFtpd:
    return "pure-ftpd";
  case RealServerKind::Pyftpdlib:
    return "pyftpdlib";
  }
  return "unknown";
}

RealFtpServer::RealFtpServer(RealServerKind AKind, RealFtpServerOptions AOptions)
    : FKind(AKind), FOptions(std::move(AOptions)), FAnyLoopback(FOptions.Address == kAnyLoopback),
      FDir(std::string("ftpc-") + RealServerName(AKind) + ".", 0755), FRootDir(FDir.File("root")) {}

RealFtpServer::~RealFtpServer() { Stop(); }

std::unique_ptr<RealFtpServer> RealFtpServer::Start(RealServerKind AKind, RealFtpServerOptions AOptions,
                                                    std::string& VError) {
  std::unique_ptr<RealFtpServer> server(new RealFtpServer(AKind, std::move(AOptions)));
  if (!server->Launch(VError)) {
    return nullptr;
  }
  return server;
}

bool RealFtpServer::Launch(std::string& VError) {
  TestUser user;
  if (FKind != RealServerKind::Pyftpdlib && !LookupTestUser(user)) {
    VError = std::string("no user ") + kUser;
    return false;
  }
  const TestCertificate* certificate = nullptr;
  if (FOptions.Tls != RealServerTls::None && (certificate = SharedTestCertificate(VError)) == nullptr) {
    return false;
  }
  // The sessions run as the test user and must be able to write their root (pyftpdlib writes as
  // whoever runs it).
  const bool chownRoot = FKind != RealServerKind::Pyftpdlib;
  if (::mkdir(FRootDir.c_str(), 0755) != 0 ||
      (chownRoot && ::chown(FRootDir.c_str(), user.Uid, user.Gid) != 0)) {
    VError = "cannot prepare " + FRootDir + ": " + ErrnoText(errno);
    return false;
  }
  // A port taken between probe and bind makes the server exit; another block is tried then.
  for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
    if (!ChooseAddress(VError)) {
      return false;
    }
    std::unique_ptr<PortBlock> ports = PortBlock::Claim({FOptions.Address}, VError);
    if (!ports) {
      return false;
    }
    FPorts = std::move(ports);
    const Layout layout{FOptions, FDir.Path(), FRootDir, Port(), PassivePortMin(), PassivePortMax(),
                        user, certificate};
    const std::vector<std::string> argv = Plan(FKind, layout, VError);
    if (argv.empty()) {
      return false;
    }
    FPid = SpawnDaemon(argv, FDir.File("server.log"), VError);
    if (FPid < 0) {
      return false;
    }
    VError = WaitForGreeting(FOptions.Address, Port(), FPid, FOptions.Tls != RealServerTls::Implicit);
    if (VError.empty()) {
      return true;
    }
    const bool exited = !ProcessAlive(FPid);
    Stop();
    VError += "\n--- server log ---\n" + Tail(Log());
    if (!exited) {
      return false;
    }
  }
  return false;
}

// A fixed control port (21) is shared by every server on the machine, so each one takes an
// address of its own.
bool RealFtpServer::ChooseAddress(std::string& VError) {
  if (!FAnyLoopback) {
    return true;
  }
  FOptions.Address = FreeLoopbackAddress(FOptions.Port, VError);
  return !FOptions.Address.empty();
}

bool RealFtpServer::Stop() {
  if (FPid < 0) {
    return true;
  }
  const bool clean = StopProcessTree(FPid).empty();
  FPid = -1;
  return clean;
}

std::vector<pid_t> RealFtpServer::Processes() const {
  std::vector<pid_t> alive;
  if (FPid >= 0) {
    for (const pid_t pid : ProcessTree(FPid)) {
      if (ProcessAlive(pid)) {
        alive.push_back(pid);
      }
    }
  }
  return alive;
}

std::string RealFtpServer::Log() const { return ReadTextFile(FDir.File("server.log")); }

std::string RealServerUnavailable(RealServerKind AKind, const RealFtpServerOptions& AOptions) {
  std::string problem = MissingProgramsProblem(AKind, AOptions);
  if (!problem.empty()) {
    return problem;
  }
  if (AKind != RealServerKind::Pyftpdlib) {
    if (::geteuid() != 0) {
      return std::string(RealServerName(AKind)) + " needs root to log in and switch to the test user";
    }
    TestUser user;
    if (!LookupTestUser(user)) {
      return std::string("no system user ") + RealFtpServer::kUser + " (run scripts/install-deps.sh as root)";
    }
  }
  if (AOptions.Tls != RealServerTls::None && !IsExecutable(kOpenssl)) {
    return "openssl is not installed (run scripts/install-deps.sh as root)";
  }
  return {};
}

std::unique_ptr<RealFtpServer> StartRealFtpServerOrSkip(RealServerKind AKind,
                                                        RealFtpServerOptions AOptions) {
  const std::string name = RealServerName(AKind);
  const std::string probed = AOptions.Address == kAnyLoopback ? "127.0.0.1" : AOptions.Address;
  const std::string noLoopback = ListenProblem(probed, 0);
  if (!noLoopback.empty()) {
    // Containers often run without IPv6; that is the machine, not a missing install.
    [&] { GTEST_SKIP() << "no loopback address " << AOptions.Address << ": " << noLoopback; }();
    return nullptr;
  }
  const std::string unavailable = RealServerUnavailable(AKind, AOptions);
  if (!unavailable.empty()) {
    if (CiRun()) {
      ADD_FAILURE() << unavailable << " (CI=true: every real server must run)";
    } else {
      [&] { GTEST_SKIP() << unavailable; }();
    }
    return nullptr;
  }
  std::string error;
  std::unique_ptr<RealFtpServer> server = RealFtpServer::Start(AKind, std::move(AOptions), error);
  if (!server) {
    ADD_FAILURE() << "cannot start " << name << ": " << error;
  }
  return server;
}

const TestCertificate* SharedTestCertificate(std::string& VError) {
  static std::mutex mutex;
  static std::unique_ptr<TempDir> directory;
  static TestCertificate certificate;
  const std::lock_guard lock(mutex);
  if (directory) {
    return &certificate;
  }
  auto made = std::make_unique<TempDir>("ftpc-cert.", 0755);
  const TestCertificate files{made->File("cert.pem"), made->File("key.pem"), made->File("combined.pem")};
  const int status = RunCommand({kOpenssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                 files.KeyFile, "-out", files.CertFile, "-days", "3650", "-subj",
                                 "/CN=localhost", "-addext",
                                 "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1"},
                                made->File("openssl.log"), kCommandTimeout);
  const std::string combined = ReadTextFile(files.CertFile) + ReadTextFile(files.KeyFile);
  if (status != 0 || !WriteTextFile(files.CombinedFile, combined, 0600)) {
    VError = "openssl could not make a test certificate: " + ReadTextFile(made->File("openssl.log"));
    return nullptr;
  }
  ::chmod(files.KeyFile.c_str(), 0600);
  directory = std::move(made);
  certificate = files;
  return &certificate;
}

} // namespace ftpc::test

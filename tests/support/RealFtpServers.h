// Real FTP servers (vsftpd, proftpd, pure-ftpd, pyftpdlib) started on loopback ports for
// end-to-end tests, each in a temporary directory with one test user, and stopped with every
// session process afterwards.
//
// Usage:
//   auto server = StartRealFtpServerOrSkip(RealServerKind::Proftpd);   // or {.Address = "::1"}
//   if (!server) return;                 // skipped (not root, not installed) or failed (CI=true)
//   WriteTextFile(server->RootDir() + "/hello.txt", "hello");   // what the user sees at "/"
//   ... connect to server->Address():server->Port(), log in with
//       RealFtpServer::kUser / RealFtpServer::kPassword, transfer ...
//   ReadTextFile(server->RootDir() + "/uploaded.bin");
//   // the server stops when `server` goes (or with server->Stop())
//
// Facts tests can rely on:
//   - Address() is the literal address (127.0.0.1 by default, ::1, or the 127.0.0.N chosen for
//     "127.0.0.*"); Port() the control port (Options.Port, or one from a PortBlock of their own),
//     PassivePortMin()..PassivePortMax() the passive range from that PortBlock.
//   - Every kind logs in kUser/kPassword and chroots to RootDir() (pyftpdlib: a virtual root),
//     so PWD shows "/". RootDir() is writable by the server's session user.
//   - Tls = RealServerTls::Explicit allows AUTH TLS on the same port (plain stays allowed), with
//     the certificate of SharedTestCertificate(); RealServerTls::Implicit runs TLS from the
//     first byte instead (vsftpd, proftpd). Extra holds extra configuration lines
//     (vsftpd, proftpd) or command-line arguments (pure-ftpd), e.g. "require_ssl_reuse=NO".
//   - Log() is the server's own output (stderr and start-up errors).
//   - Processes() lists the server's processes now (the listener and its sessions); after
//     Stop() none of them is left.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/PortBlock.h"
#include "support/TempDir.h"

namespace ftpc::test {

enum class RealServerKind { Vsftpd, Proftpd, PureFtpd, Pyftpdlib };

const char* RealServerName(RealServerKind AKind);

// Implicit: TLS from the first byte on the control port (vsftpd and proftpd only).
enum class RealServerTls { None, Explicit, Implicit };

struct RealFtpServerOptions {
  // "127.0.0.1", "::1", or "127.0.0.*": the first free 127.0.0.N (N >= 2) for a fixed Port.
  std::string Address = "127.0.0.1";
  uint16_t Port = 0;                   // 0: the first port of the block; else this one (e.g. 21)
  RealServerTls Tls = RealServerTls::None;
  std::vector<std::string> Extra{};   // extra config lines or command-line arguments (see above)
};

class RealFtpServer {
public:
  static constexpr const char* kUser = "ftptest";
  static constexpr const char* kPassword = "ftppass";

  // Starts the server and waits (bounded) for its 220 greeting; nullptr with VError otherwise.
  static std::unique_ptr<RealFtpServer> Start(RealServerKind AKind, RealFtpServerOptions AOptions,
                                              std::string& VError);
  ~RealFtpServer();
  RealFtpServer(const RealFtpServer&) = delete;
  RealFtpServer& operator=(const RealFtpServer&) = delete;

  // Stops the server and every process it started; returns false if any process survived.
  bool Stop();

  RealServerKind Kind() const { return FKind; }
  const std::string& Address() const { return FOptions.Address; }
  uint16_t Port() const { return FOptions.Port != 0 ? FOptions.Port : FPorts->First(); }
  uint16_t PassivePortMin() const { return static_cast<uint16_t>(FPorts->First() + 1); }
  uint16_t PassivePortMax() const { return FPorts->Last(); }
  const std::string& RootDir() const { return FRootDir; }
  pid_t Pid() const { return FPid; }
  std::vector<pid_t> Processes() const;
  std::string Log() const;

private:
  RealFtpServer(RealServerKind AKind, RealFtpServerOptions AOptions);
  bool Launch(std::string& VError);
  bool ChooseAddress(std::string& VError);

  RealServerKind FKind;
  RealFtpServerOptions FOptions;
  bool FAnyLoopback;  // Options.Address was "127.0.0.*": a new address for every start attempt
  TempDir FDir;
  std::string FRootDir;
  std::unique_ptr<PortBlock> FPorts;
  pid_t FPid = -1;
};

// Why AKind cannot run on this machine with these options (not root, not installed, no test
// user, no openssl for TLS), or "" when it can. A missing loopback address is not checked here.
std::string RealServerUnavailable(RealServerKind AKind, const RealFtpServerOptions& AOptions = {});

// For test bodies: starts the server, or returns nullptr after marking the current test skipped
// (server unavailable here) or failed (unavailable under CI=true, except a missing IPv6
// loopback; or installed but failing to start).
std::unique_ptr<RealFtpServer> StartRealFtpServerOrSkip(RealServerKind AKind,
                                                        RealFtpServerOptions AOptions = {});

// A self-signed certificate for localhost, 127.0.0.1 and ::1, made on first use and removed at
// process exit. nullptr with VError when openssl fails.
struct TestCertificate {
  std::string CertFile;
  std::string KeyFile;
  std::string CombinedFile;  // certificate followed by key
};
const TestCertificate* SharedTestCertificate(std::string& VError);

} // namespace ftpc::test

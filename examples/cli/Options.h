// The command line of the client program: its commands, options and the help text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "examples/cli/Url.h"
#include "examples/cli/UsageError.h"
#include "proxy/IdSocks.h"

namespace ftpc::cli {

inline constexpr const char* kProgramName = "ftpc-cli";
// The longest --timeout: a day. Far below the 32-bit millisecond limit of the time-outs.
inline constexpr int32_t kMaxTimeoutSeconds = 24 * 60 * 60;
// The most sessions --parallel may open to one server.
inline constexpr int32_t kMaxParallelSessions = 16;

enum class Command { Help, List, Get, Put, Verify };

// --socks4, --socks4a or --socks5 HOST[:PORT], and --proxy-user USER:PASSWORD.
struct ProxyOption {
  TSocksVersion Version = svNoSocks;
  std::string Host;
  uint16_t Port = IdPORT_SOCKS;
  std::string User; // empty: no authentication
  std::string Password;
};

// --tls (explicit TLS, required) or an ftps:// URL (implicit TLS), and how far to trust and
// protect: --ca-file FILE, --pin SHA256-HEX or --insecure; --ccc, --clear-data.
// The SHA-256 digest of a certificate's DER encoding.
using CertificatePin = std::array<uint8_t, 32>;

struct TlsOption {
  bool Explicit = false;
  std::string CAFile;
  std::optional<CertificatePin> Pin;
  bool Insecure = false;
  bool ClearControl = false; // --ccc
  bool ClearData = false;    // --clear-data
};

struct Options {
  bool Active = false;
  bool Ascii = false;
  bool ModeZ = false;
  bool Resume = false;
  bool Force = false;
  bool Progress = false;
  bool Verbose = false;
  bool LongListing = false;   // ls -l
  bool Recursive = false;     // get -r, put -r: a directory tree
  int32_t Parallel = 1;       // sessions sharing a tree
  bool UsePasvAddress = false; // data connections to the host a 227 names, not the server's
  int32_t TimeoutSeconds = 0; // 0: the library's own time-outs
  ProxyOption Proxy;
  TlsOption Tls;
};

struct Invocation {
  Command Cmd = Command::Help;
  Options Opts;
  FtpUrl Url;
  std::string Local; // get: empty when not given
};

// Parses the arguments after the program name; raises UsageError with the reason.
// Options may stand anywhere before "--", after which every argument is an operand.
Invocation ParseCommandLine(const std::vector<std::string>& AArgs);

// What --help prints.
const char* HelpText();

} // namespace ftpc::cli

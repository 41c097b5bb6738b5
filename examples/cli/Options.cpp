#include "examples/cli/Options.h"
#include "examples/cli/Tls.h"

#include <charconv>
#include <filesystem>
#include <optional>
#include <string_view>

namespace ftpc::cli {

namespace {

constexpr uint32_t kMaxPort = 65535;

const char* const kHelpText =
    "Usage:\n"
    "  ftpc-cli [options] ls [-l] URL        list a directory\n"
    "  ftpc-cli [options] get URL [LOCAL]    download (LOCAL defaults to the remote file name)\n"
    "  ftpc-cli [options] put LOCAL URL      upload (a URL ending in / keeps the local name)\n"
    "  ftpc-cli [options] get -r URL/ [LOCALDIR]  download a directory tree (into .)\n"
    "  ftpc-cli [options] put -r LOCALDIR URL/    upload a directory tree\n"
    "  ftpc-cli [options] verify LOCAL URL   compare a local file with the server's digest\n"
    "\n"
    "URL: ftp://[user[:password]@]host[:port]/path, percent-decoded; [::1] for IPv6;\n"
    "     no user means anonymous. The path is relative to the login directory\n"
    "     (ftp://host//abs or ftp://host/%2Fabs for an absolute one).\n"
    "     ftps://... is implicit TLS (TLS from the first byte, port 990 by default).\n"
    "\n"
    "Options:\n"
    "  --active            PORT/EPRT instead of passive data connections\n"
    "  --use-pasv-address  passive data connections to the host the server names\n"
    "  --ascii             ASCII type (line ends converted)\n"
    "  --mode-z            compressed transfers (MODE Z)\n"
    "  --resume            continue an existing LOCAL from its size (get), or the remote\n"
    "                      file from its size (put)\n"
    "  --force             replace an existing LOCAL (without it that is an error)\n"
    "  --progress          a progress bar with rate and ETA on stderr (on a terminal)\n"
    "  --verbose           the control conversation on stderr, the password masked\n"
    "  --timeout SECONDS   time limit for connecting and for each wait on the server\n"
    "  -r                  get or put a whole directory tree; the target directory and\n"
    "                      its subdirectories are created where missing, files keep their\n"
    "                      modification times where the server can tell or take them\n"
    "                      (MLSD/MDTM, MFMT/MDTM); links on the server are left out\n"
    "  --parallel N        with -r: N sessions (1..16) share the files\n"
    "  --socks4 HOST:PORT  connect (control and data) through a SOCKS 4 proxy\n"
    "  --socks4a HOST:PORT through a SOCKS 4A proxy; the proxy resolves the server's name\n"
    "  --socks5 HOST:PORT  through a SOCKS 5 proxy; the proxy resolves the server's name\n"
    "  --proxy-user USER:PASSWORD  the user name (and, for SOCKS 5, password) for the proxy\n"
    "  --tls               explicit TLS (AUTH); stops when the server cannot do it\n"
    "  --ca-file FILE      trust the certificates in FILE (PEM) instead of the system's\n"
    "  --pin SHA256-HEX    accept exactly the certificate with this SHA-256 digest of its\n"
    "                      DER form (64 hex digits, colons allowed)\n"
    "  --insecure          accept any certificate (no protection against impostors)\n"
    "  --ccc               clear the control connection after the login (CCC)\n"
    "  --clear-data        unprotected data connections (PROT C)\n"
    "  The server's certificate is checked against the system's trusted certificates\n"
    "  and the host name (or address) of the URL; a failed check ends the run before\n"
    "  the password is sent.\n"
    "  -h, --help          this text\n"
    "\n"
    "ls prints names, one per line; ls -l prints TYPE SIZE TIME NAME per line\n"
    "(TYPE d, -, l or ?; SIZE in bytes or -; TIME as YYYY-MM-DDTHH:MM:SSZ or -;\n"
    "a link adds -> TARGET).\n"
    "\n"
    "Exit status: 0 success; 1 the operation failed (the reason on stderr; a failed\n"
    "download leaves no partial LOCAL; with -r a file that fails is named on stderr\n"
    "and the others are still copied); 2 a usage error; verify: 3 the server offers\n"
    "no verification command, 4 the digests differ.\n";

struct FlagOption {
  std::string_view Name;
  bool Options::*Field;
};

constexpr FlagOption kFlags[] = {
    {"--active", &Options::Active},   {"--ascii", &Options::Ascii},
    {"--mode-z", &Options::ModeZ},    {"--resume", &Options::Resume},
    {"--force", &Options::Force},     {"--progress", &Options::Progress},
    {"--verbose", &Options::Verbose}, {"-l", &Options::LongListing},
    {"-r", &Options::Recursive},
    {"--use-pasv-address", &Options::UsePasvAddress},
};

// The TLS switches, which live in Options::Tls.
struct TlsFlagOption {
  std::string_view Name;
  bool TlsOption::*Field;
};

constexpr TlsFlagOption kTlsFlags[] = {
    {"--tls", &TlsOption::Explicit},
    {"--insecure", &TlsOption::Insecure},
    {"--ccc", &TlsOption::ClearControl},
    {"--clear-data", &TlsOption::ClearData},
};

struct CommandForm {
  std::string_view Name;
  Command Cmd;
  size_t MinOperands;
  size_t MaxOperands;
  std::string_view Synopsis;
};

constexpr CommandForm kCommands[] = {
    {"ls", Command::List, 1, 1, "ls [-l] URL"},
    {"get", Command::Get, 1, 2, "get URL [LOCAL]"},
    {"put", Command::Put, 2, 2, "put LOCAL URL"},
    {"verify", Command::Verify, 2, 2, "verify LOCAL URL"},
};

// A whole number from 1 to AMax, or nothing.
std::optional<int32_t> ParseCount(std::string_view AText, int32_t AMax) {
  int32_t count = 0;
  const auto [end, error] = std::from_chars(AText.data(), AText.data() + AText.size(), count);
  if (error != std::errc() || end != AText.data() + AText.size() || count < 1 || count > AMax) {
    return std::nullopt;
  }
  return count;
}

int32_t ParseTimeout(std::string_view AText) {
  const std::optional<int32_t> seconds = ParseCount(AText, kMaxTimeoutSeconds);
  if (!seconds) {
    throw UsageError("--timeout takes whole seconds from 1 to " +
                     std::to_string(kMaxTimeoutSeconds) + ", not '" + std::string(AText) + "'");
  }
  return *seconds;
}

int32_t ParseParallel(std::string_view AText) {
  const std::optional<int32_t> sessions = ParseCount(AText, kMaxParallelSessions);
  if (!sessions) {
    throw UsageError("--parallel takes a number of sessions from 1 to " +
                     std::to_string(kMaxParallelSessions) + ", not '" + std::string(AText) + "'");
  }
  return *sessions;
}

uint16_t ParsePort(std::string_view AText) {
  uint32_t port = 0;
  const auto [end, error] = std::from_chars(AText.data(), AText.data() + AText.size(), port);
  if (error != std::errc() || end != AText.data() + AText.size() || port < 1 ||
      port > kMaxPort) {
    throw UsageError("'" + std::string(AText) + "' is no port number");
  }
  return static_cast<uint16_t>(port);
}

// "host:port", "[v6]:port" or a bare host (the SOCKS port).
void ParseProxyAddress(TSocksVersion AVersion, std::string_view AText, Options& VOptions) {
  ProxyOption& proxy = VOptions.Proxy;
  if (proxy.Version != svNoSocks) {
    throw UsageError("only one of --socks4, --socks4a and --socks5 may be given");
  }
  const bool bracketed = AText.starts_with('[');
  const size_t hostEnd = bracketed ? AText.find(']') : AText.rfind(':');
  if (bracketed && hostEnd == std::string_view::npos) {
    throw UsageError("a proxy address needs the closing ']': '" + std::string(AText) + "'");
  }
  proxy.Host = std::string(bracketed ? AText.substr(1, hostEnd - 1) : AText.substr(0, hostEnd));
  const size_t colon = bracketed ? hostEnd + 1 : hostEnd;
  if (colon < AText.size()) {
    if (AText[colon] != ':') {
      throw UsageError("a proxy address reads HOST:PORT, not '" + std::string(AText) + "'");
    }
    proxy.Port = ParsePort(AText.substr(colon + 1));
  }
  if (proxy.Host.empty()) {
    throw UsageError("a proxy address needs a host: '" + std::string(AText) + "'");
  }
  proxy.Version = AVersion;
}

void ParseProxyUser(Options& VOptions, std::string_view AText) {
  const size_t colon = AText.find(':');
  VOptions.Proxy.User = std::string(AText.substr(0, colon));
  VOptions.Proxy.Password =
      colon == std::string_view::npos ? std::string() : std::string(AText.substr(colon + 1));
  if (VOptions.Proxy.User.empty()) {
    throw UsageError("--proxy-user reads USER:PASSWORD");
  }
}

// An option that takes a value, as "--name value" or "--name=value".
struct ValueOption {
  std::string_view Name;
  std::string_view Needs; // for the message when the value is missing
  void (*Apply)(Options& VOptions, std::string_view AValue);
};

constexpr ValueOption kValueOptions[] = {
    {"--timeout", "a number of seconds",
     [](Options& VOptions, std::string_view AValue) {
       VOptions.TimeoutSeconds = ParseTimeout(AValue);
     }},
    {"--socks4", "HOST:PORT",
     [](Options& VOptions, std::string_view AValue) {
       ParseProxyAddress(svSocks4, AValue, VOptions);
     }},
    {"--socks4a", "HOST:PORT",
     [](Options& VOptions, std::string_view AValue) {
       ParseProxyAddress(svSocks4A, AValue, VOptions);
     }},
    {"--socks5", "HOST:PORT",
     [](Options& VOptions, std::string_view AValue) {
       ParseProxyAddress(svSocks5, AValue, VOptions);
     }},
    {"--proxy-user", "USER:PASSWORD", ParseProxyUser},
    {"--ca-file", "a file of trusted certificates",
     [](Options& VOptions, std::string_view AValue) {
       if (AValue.empty()) {
         throw UsageError("--ca-file needs a file name");
       }
       VOptions.Tls.CAFile = std::string(AValue);
     }},
    {"--pin", "a SHA-256 digest in hex",
     [](Options& VOptions, std::string_view AValue) {
       VOptions.Tls.Pin = ParsePin(AValue);
       if (!VOptions.Tls.Pin) {
         throw UsageError("--pin takes 64 hex digits (colons allowed), not '" +
                          std::string(AValue) + "'");
       }
     }},
    {"--parallel", "a number of sessions",
     [](Options& VOptions, std::string_view AValue) {
       VOptions.Parallel = ParseParallel(AValue);
     }},
};

// Splits the arguments into options (applied to VOptions) and operands.
class ArgumentReader {
public:
  ArgumentReader(const std::vector<std::string>& AArgs, Options& VOptions)
      : FArgs(AArgs), FOptions(VOptions) {}

  // False when the arguments ask for help.
  bool Read(std::vector<std::string>& VOperands) {
    bool optionsEnded = false;
    for (FIndex = 0; FIndex < FArgs.size(); ++FIndex) {
      const std::string& arg = FArgs[FIndex];
      if (optionsEnded || arg.size() < 2 || arg.front() != '-') {
        VOperands.push_back(arg);
      } else if (arg == "--") {
        optionsEnded = true;
      } else if (arg == "--help" || arg == "-h") {
        return false;
      } else {
        ApplyOption(arg);
      }
    }
    return true;
  }

private:
  void ApplyOption(std::string_view AArg) {
    for (const FlagOption& flag : kFlags) {
      if (AArg == flag.Name) {
        FOptions.*flag.Field = true;
        return;
      }
    }
    for (const TlsFlagOption& flag : kTlsFlags) {
      if (AArg == flag.Name) {
        FOptions.Tls.*flag.Field = true;
        return;
      }
    }
    for (const ValueOption& option : kValueOptions) {
      if (AArg == option.Name) {
        if (++FIndex == FArgs.size()) {
          throw UsageError(std::string(option.Name) + " needs " + std::string(option.Needs));
        }
        option.Apply(FOptions, FArgs[FIndex]);
        return;
      }
      if (AArg.starts_with(option.Name) && AArg.substr(option.Name.size()).starts_with('=')) {
        option.Apply(FOptions, AArg.substr(option.Name.size() + 1));
        return;
      }
    }
    throw UsageError("unknown option '" + std::string(AArg) + "'");
  }

  const std::vector<std::string>& FArgs;
  Options& FOptions;
  size_t FIndex = 0;
};

const CommandForm& FindCommand(const std::string& AName) {
  for (const CommandForm& form : kCommands) {
    if (AName == form.Name) {
      return form;
    }
  }
  throw UsageError("unknown command '" + AName + "'");
}

void CheckTlsCombinations(const TlsOption& ATls, const FtpUrl& AUrl) {
  const int trustChoices = (ATls.CAFile.empty() ? 0 : 1) + (ATls.Pin ? 1 : 0) + (ATls.Insecure ? 1 : 0);
  if (trustChoices > 1) {
    throw UsageError("--ca-file, --pin and --insecure exclude each other");
  }
  if (AUrl.ImplicitTls && ATls.Explicit) {
    throw UsageError("--tls (explicit TLS) does not go with an ftps:// URL (implicit TLS)");
  }
  const bool tlsTuned = trustChoices > 0 || ATls.ClearControl || ATls.ClearData;
  if (tlsTuned && !ATls.Explicit && !AUrl.ImplicitTls) {
    throw UsageError("--ca-file, --pin, --insecure, --ccc and --clear-data need --tls or an "
                     "ftps:// URL");
  }
}

void CheckCombinations(const Invocation& AInvocation) {
  const Options& opts = AInvocation.Opts;
  if (opts.LongListing && AInvocation.Cmd != Command::List) {
    throw UsageError("-l belongs to ls");
  }
  if (!opts.Proxy.User.empty() && opts.Proxy.Version == svNoSocks) {
    throw UsageError("--proxy-user needs --socks4, --socks4a or --socks5");
  }
  if (opts.Recursive && AInvocation.Cmd != Command::Get && AInvocation.Cmd != Command::Put) {
    throw UsageError("-r belongs to get and put");
  }
  if (opts.Parallel != 1 && !opts.Recursive) {
    throw UsageError("--parallel needs -r");
  }
  if (opts.Recursive && (opts.Resume || opts.Ascii)) {
    throw UsageError("-r copies whole files in binary: no --resume or --ascii");
  }
  if (opts.Resume && opts.Force) {
    throw UsageError("--resume and --force exclude each other");
  }
  // Line ends change length on the way, so a local size is no offset on the server.
  if (opts.Resume && opts.Ascii) {
    throw UsageError("--resume and --ascii exclude each other");
  }
  CheckTlsCombinations(opts.Tls, AInvocation.Url);
  if (WantsTls(AInvocation)) {
    CheckTlsAvailable();
  }
}

// "dir/name" gives "name"; a name that ends in a slash has none.
std::string LocalBaseName(const std::string& ALocal) {
  std::string name = std::filesystem::path(ALocal).filename().string();
  if (name.empty() || name == "." || name == "..") {
    throw UsageError("'" + ALocal + "' names no file");
  }
  if (name.find_first_of("\r\n") != std::string::npos) {
    throw UsageError("a line break in '" + ALocal + "' cannot go into a remote name");
  }
  return name;
}

// Get and verify name a remote file; put may name a directory and keeps the local name there;
// get stores under the remote name when no local one is given.
void CompleteNames(Invocation& VInvocation) {
  FtpUrl& url = VInvocation.Url;
  if (VInvocation.Opts.Recursive) {
    if (VInvocation.Local.empty()) {
      VInvocation.Local = ".";
    }
    return; // the whole path names the remote directory
  }
  if (VInvocation.Cmd == Command::Put && url.NamesDirectory()) {
    url.Path += LocalBaseName(VInvocation.Local);
  }
  if ((VInvocation.Cmd == Command::Get || VInvocation.Cmd == Command::Verify) &&
      url.NamesDirectory()) {
    throw UsageError("the URL names a directory, not a file");
  }
  if (VInvocation.Cmd == Command::Get && VInvocation.Local.empty()) {
    VInvocation.Local = url.FileName();
  }
}

// Places the operands of AForm: the URL and the local file name.
void AssignOperands(const CommandForm& AForm, const std::vector<std::string>& AOperands,
                    Invocation& VInvocation) {
  const size_t count = AOperands.size() - 1;
  if (count < AForm.MinOperands || count > AForm.MaxOperands) {
    throw UsageError("usage: " + std::string(kProgramName) + " [options] " +
                     std::string(AForm.Synopsis));
  }
  const bool localFirst = AForm.Cmd == Command::Put || AForm.Cmd == Command::Verify;
  VInvocation.Url = ParseFtpUrl(AOperands[localFirst ? 2 : 1]);
  if (localFirst || count == 2) {
    VInvocation.Local = AOperands[localFirst ? 1 : 2];
    if (VInvocation.Local.empty()) {
      throw UsageError("LOCAL must not be empty");
    }
  }
  CompleteNames(VInvocation);
}

} // namespace

Invocation ParseCommandLine(const std::vector<std::string>& AArgs) {
  Invocation invocation;
  std::vector<std::string> operands;
  if (!ArgumentReader(AArgs, invocation.Opts).Read(operands)) {
    return invocation; // Command::Help
  }
  if (operands.empty()) {
    throw UsageError("no command given");
  }
  const CommandForm& form = FindCommand(operands.front());
  invocation.Cmd = form.Cmd;
  AssignOperands(form, operands, invocation);
  CheckCombinations(invocation);
  return invocation;
}

const char* HelpText() {
  return kHelpText;
}

} // namespace ftpc::cli

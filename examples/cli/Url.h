// The ftp:// URLs of the client program: ftp://[user[:password]@]host[:port]/path, with user,
// password and path percent-decoded and an IPv6 host in brackets ([::1]). ftps:// is the same
// with implicit TLS (TLS from the first byte, port 990 by default).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ftpc::cli {

inline constexpr uint16_t kDefaultFtpPort = 21;
inline constexpr uint16_t kDefaultFtpsPort = 990;
inline constexpr const char* kAnonymousUser = "anonymous";
// What anonymous servers conventionally ask for as the password: something shaped like a
// mail address.
inline constexpr const char* kAnonymousPassword = "anonymous@";

struct FtpUrl {
  std::string User;
  std::string Password;
  std::string Host; // without the brackets of an IPv6 literal
  uint16_t Port = kDefaultFtpPort;
  bool IPv6 = false; // the host was an IPv6 literal
  bool ImplicitTls = false; // ftps://
  // Decoded, relative to the login directory: "ftp://h/a/b" gives "a/b"; "ftp://h//a" or
  // "ftp://h/%2Fa" give the absolute "/a". Empty for "ftp://h" and "ftp://h/".
  std::string Path;

  // The directory part of Path ("" when none) and the name after its last slash.
  std::string Directory() const;
  std::string FileName() const;
  // Path ends in a slash or is empty: the URL names a directory, not a file.
  bool NamesDirectory() const;
};

// Parses AText; raises UsageError (Options.h) with the reason when it is not such a URL.
FtpUrl ParseFtpUrl(std::string_view AText);

// %XX sequences become their bytes; raises UsageError for a malformed one or for %00.
std::string PercentDecode(std::string_view AText);

} // namespace ftpc::cli

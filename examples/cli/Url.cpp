#include "examples/cli/Url.h"

#include <cctype>
#include <charconv>

#include "examples/cli/UsageError.h"

namespace ftpc::cli {

namespace {

constexpr std::string_view kScheme = "ftp://";
constexpr std::string_view kTlsScheme = "ftps://";
constexpr size_t kMaxPortDigits = 5;

bool StartsWithIgnoreCase(std::string_view AText, std::string_view APrefix) {
  if (AText.size() < APrefix.size()) {
    return false;
  }
  for (size_t i = 0; i < APrefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(AText[i])) != APrefix[i]) {
      return false;
    }
  }
  return true;
}

int HexValue(char AChar) {
  if (AChar >= '0' && AChar <= '9') {
    return AChar - '0';
  }
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(AChar)));
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

[[noreturn]] void Reject(std::string_view AUrl, const std::string& AReason) {
  throw UsageError("invalid URL '" + std::string(AUrl) + "': " + AReason);
}

// A line break in a name would end the command it goes into and start another on the server.
std::string DecodeWireText(std::string_view AUrl, std::string_view AText) {
  std::string decoded;
  try {
    decoded = PercentDecode(AText);
  } catch (const UsageError& error) {
    Reject(AUrl, error.what());
  }
  if (decoded.find_first_of("\r\n") != std::string::npos) {
    Reject(AUrl, "line breaks are not allowed");
  }
  return decoded;
}

uint16_t ParsePort(std::string_view AUrl, std::string_view AText, uint16_t ADefault) {
  if (AText.empty()) {
    return ADefault;
  }
  unsigned value = 0;
  const auto [end, error] = std::from_chars(AText.data(), AText.data() + AText.size(), value);
  if (AText.size() > kMaxPortDigits || error != std::errc() || end != AText.data() + AText.size() ||
      value == 0 || value > UINT16_MAX) {
    Reject(AUrl, "the port must be a number from 1 to 65535");
  }
  return static_cast<uint16_t>(value);
}

// "[v6]:port", "host:port", "[v6]" or "host".
void ParseHostPort(std::string_view AUrl, std::string_view AText, FtpUrl& VUrl) {
  std::string_view port;
  if (!AText.empty() && AText.front() == '[') {
    const size_t close = AText.find(']');
    if (close == std::string_view::npos) {
      Reject(AUrl, "missing ']' after the IPv6 address");
    }
    VUrl.Host = std::string(AText.substr(1, close - 1));
    VUrl.IPv6 = true;
    const std::string_view rest = AText.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') {
      Reject(AUrl, "unexpected text after the IPv6 address");
    }
    port = rest.empty() ? rest : rest.substr(1);
  } else {
    const size_t colon = AText.find(':');
    VUrl.Host = std::string(AText.substr(0, colon));
    port = colon == std::string_view::npos ? std::string_view() : AText.substr(colon + 1);
  }
  if (VUrl.Host.empty()) {
    Reject(AUrl, "no host");
  }
  if (VUrl.IPv6 && VUrl.Host.find(':') == std::string::npos) {
    Reject(AUrl, "'" + VUrl.Host + "' in brackets is not an IPv6 address");
  }
  VUrl.Port = ParsePort(AUrl, port, VUrl.ImplicitTls ? kDefaultFtpsPort : kDefaultFtpPort);
}

// "user:password" or "user"; no user at all means an anonymous login.
void ParseUserInfo(std::string_view AUrl, std::string_view AText, FtpUrl& VUrl) {
  const size_t colon = AText.find(':');
  VUrl.User = DecodeWireText(AUrl, AText.substr(0, colon));
  if (colon != std::string_view::npos) {
    VUrl.Password = DecodeWireText(AUrl, AText.substr(colon + 1));
  }
  if (VUrl.User.empty()) {
    VUrl.User = kAnonymousUser;
    if (VUrl.Password.empty()) {
      VUrl.Password = kAnonymousPassword;
    }
  }
}

} // namespace

std::string PercentDecode(std::string_view AText) {
  std::string decoded;
  decoded.reserve(AText.size());
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] != '%') {
      decoded += AText[i];
      continue;
    }
    const int high = i + 2 < AText.size() ? HexValue(AText[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(AText[i + 2]) : -1;
    if (low < 0) {
      throw UsageError("'%' must be followed by two hexadecimal digits");
    }
    if (high == 0 && low == 0) {
      throw UsageError("%00 is not allowed");
    }
    decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return decoded;
}

FtpUrl ParseFtpUrl(std::string_view AText) {
  FtpUrl url;
  url.ImplicitTls = StartsWithIgnoreCase(AText, kTlsScheme);
  if (!url.ImplicitTls && !StartsWithIgnoreCase(AText, kScheme)) {
    Reject(AText, "it must start with ftp:// or ftps://");
  }
  const std::string_view rest = AText.substr((url.ImplicitTls ? kTlsScheme : kScheme).size());
  const size_t slash = rest.find('/');
  const std::string_view authority = rest.substr(0, slash);
  const std::string_view path =
      slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
  // The password may itself hold '@': the host starts after the last one.
  const size_t at = authority.rfind('@');
  ParseUserInfo(AText, at == std::string_view::npos ? std::string_view() : authority.substr(0, at),
                url);
  ParseHostPort(AText, at == std::string_view::npos ? authority : authority.substr(at + 1), url);
  url.Path = DecodeWireText(AText, path);
  return url;
}

std::string FtpUrl::Directory() const {
  const size_t slash = Path.rfind('/');
  if (slash == std::string::npos) {
    return {};
  }
  return slash == 0 ? std::string("/") : Path.substr(0, slash);
}

std::string FtpUrl::FileName() const {
  const size_t slash = Path.rfind('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

bool FtpUrl::NamesDirectory() const {
  return Path.empty() || Path.back() == '/';
}

} // namespace ftpc::cli

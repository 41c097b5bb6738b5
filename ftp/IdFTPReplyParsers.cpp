#include "ftp/IdFTPReplyParsers.h"

#include <algorithm>

#include "base/IdResourceStrings.h"
#include "ftp/IdFTP.h"
#include "global/IdGlobalProtocols.h"
#include "stack/IdIPAddress.h"

namespace ftpc {

namespace {

constexpr int32_t kMaxPort = 65535;
constexpr size_t kMaxIPv4PieceDigits = 3;
constexpr int kMaxIPv4Piece = 255;
constexpr int kIPv4Pieces = 4;
constexpr int32_t kPortByteMask = 0xFF;
// "UTC-300": the offset follows a three-letter zone name.
constexpr size_t kZoneNameLength = 3;

// The text between the first "(" and the first ")" after it; false when there is none.
bool TextInParentheses(const std::string& ALine, std::string& VInner) {
  const size_t open = ALine.find('(');
  if (open == std::string::npos) {
    return false;
  }
  const size_t close = ALine.find(')', open + 1);
  if (close == std::string::npos) {
    return false;
  }
  VInner = ALine.substr(open + 1, close - open - 1);
  return true;
}

// One piece of a dotted IPv4 address as a decimal number 0..255, else -1.
int IPv4Piece(const std::string& APiece) {
  const std::string piece = Trim(APiece);
  if (piece.size() > kMaxIPv4PieceDigits || !AreAllDigits(piece)) {
    return -1;
  }
  const int value = ParseTrimmedInt(piece);
  return value <= kMaxIPv4Piece ? value : -1;
}

[[noreturn]] void RaiseInvalidAddress(const std::string& AText) {
  throw EIdFTPServerSentInvalidAddress(FormatInvariant(RSFTPServerSentInvalidAddress, {AText}));
}

// "h1,h2,h3,h4" cut off the front of VText as a dotted address. Each piece must be a decimal
// number 0..255: a server must not make us resolve a name of its choosing.
std::string CutPassiveHost(std::string& VText) {
  std::string host;
  std::string shown;
  for (int i = 0; i < kIPv4Pieces; ++i) {
    const std::string piece = CutToken(VText, ",");
    shown += (i > 0 ? "," : "") + piece;
    const int value = IPv4Piece(piece);
    if (value < 0) {
      RaiseInvalidAddress(shown);
    }
    host += (i > 0 ? "." : "") + std::to_string(value);
  }
  return host;
}

// An address field of a 229 reply is only taken as a numeric IPv4 or IPv6 literal.
bool IsNumericAddress(const std::string& AAddress) {
  if (AAddress.find(':') != std::string::npos) {
    TIdIPv6Address words{};
    bool error = false;
    IPv6TextToWords(AAddress, words, error);
    return !error;
  }
  // "8.4.5.4." would reach the resolver as a name.
  if (std::count(AAddress.begin(), AAddress.end(), '.') != kIPv4Pieces - 1) {
    return false;
  }
  std::string rest = AAddress;
  for (int i = 0; i < kIPv4Pieces; ++i) {
    if (rest.empty() && i > 0) {
      return false;
    }
    // The text goes to the resolver as it is: a blank or control byte inside it is no digit.
    const std::string piece = CutToken(rest, ".");
    if (piece != Trim(piece) || IPv4Piece(piece) < 0) {
      return false;
    }
  }
  return rest.empty();
}

// The "h1,h2,h3,h4,p1,p2" part of a 227 line.
std::string PassiveNumbers(const std::string& ALine) {
  std::string text;
  if (TextInParentheses(ALine, text)) {
    return text;
  }
  // "227 =127,0,0,1,4,51": the address is the last word, after any leading sign.
  const size_t blank = ALine.rfind(' ');
  text = blank == std::string::npos ? ALine : ALine.substr(blank + 1);
  const size_t digit = text.find_first_of("0123456789");
  return digit == std::string::npos ? std::string() : text.substr(digit);
}

// The ";"-separated facts of the text after a capability line's first word, each trimmed,
// empty ones left out.
std::vector<std::string> FactsOf(const std::string& AParameters) {
  std::vector<std::string> facts;
  std::string rest = Trim(AParameters);
  while (!rest.empty()) {
    std::string fact = Trim(CutToken(rest, ";"));
    if (!fact.empty()) {
      facts.push_back(std::move(fact));
    }
  }
  return facts;
}

} // namespace

// ---- Data addresses ------------------------------------------------------------------------

TIdFTPDataAddress ParsePASVReply(const std::string& ALine) {
  std::string text = PassiveNumbers(Trim(ALine));
  TIdFTPDataAddress result;
  result.Host = CutPassiveHost(text);
  // Only the low 8 bits of each byte count: "...,300,1" is port 44 * 256 + 1.
  const int32_t high = ParseTrimmedInt(CutToken(text, ",")) & kPortByteMask;
  const int32_t low = ParseTrimmedInt(CutToken(text, ",")) & kPortByteMask;
  result.Port = static_cast<uint16_t>((high << 8) + low);
  return result;
}

TIdFTPDataAddress ParseEPSVReply(const std::string& ALine, const std::string& AControlHost) {
  std::string fields;
  TextInParentheses(Trim(ALine), fields);
  const std::string delimiter = fields.empty() ? std::string() : fields.substr(0, 1);
  std::string address;
  std::string port;
  if (!delimiter.empty()) {
    CutToken(fields, delimiter); // the empty text before the opening delimiter
    CutToken(fields, delimiter); // the network protocol
    address = CutToken(fields, delimiter);
    port = Trim(CutToken(fields, delimiter));
  }
  const int32_t value = ParseTrimmedInt(port, 0);
  if (value < 1 || value > kMaxPort) {
    throw EIdFTPServerSentInvalidPort(FormatInvariant(RSFTPServerSentInvalidPort, {port}));
  }
  if (!address.empty() && !IsNumericAddress(address)) {
    RaiseInvalidAddress(address);
  }
  return {address.empty() ? AControlHost : address, static_cast<uint16_t>(value)};
}

// ---- Command answers -----------------------------------------------------------------------

std::string DirectoryFromPWDReply(const std::string& ALine) {
  const size_t open = ALine.find('"');
  const size_t start = open == std::string::npos ? 0 : open + 1;
  const size_t close = ALine.find('"', start);
  return close == std::string::npos ? std::string() : ALine.substr(start, close - start);
}

int64_t SizeFromReply(const std::string& ATextWithLineEnds) {
  std::string text = Trim(ATextWithLineEnds);
  const size_t space = text.find(' ');
  if (space != std::string::npos) {
    text.erase(0, space + 1);
  }
  return ParseTrimmedInt64(text, -1);
}

std::optional<TDateTime> ZoneOffsetFromReply(const std::string& ALine) {
  if (ALine.size() <= kZoneNameLength) {
    return std::nullopt;
  }
  try {
    return MinutesToZoneOffset(ALine.substr(kZoneNameLength));
  } catch (const EIdConvertError&) {
    return std::nullopt;
  }
}

std::string UniqueNameFromReply(const std::vector<std::string>& ALines) {
  static constexpr std::string_view kFilePrefix = "FILE:";
  for (const std::string& line : ALines) {
    if (TextHasPrefix(line, kFilePrefix)) {
      return Trim(std::string_view(line).substr(kFilePrefix.size()));
    }
  }
  return {};
}

// ---- The capability list -------------------------------------------------------------------

std::vector<std::string> CapabilitiesFromFeatReply(std::vector<std::string> AText) {
  if (!AText.empty()) {
    AText.erase(AText.begin()); // "Features:"
  }
  if (!AText.empty()) {
    AText.pop_back(); // "End"
  }
  return AText;
}

bool CapabilityListed(const std::vector<std::string>& ACapabilities, std::string_view ACmd) {
  for (const std::string& line : ACapabilities) {
    if (TextEqualsIgnoreCase(FirstWordOf(TrimLeft(line)), ACmd)) {
      return true;
    }
  }
  return false;
}

std::vector<std::string> CapabilityFacts(const std::vector<std::string>& ACapabilities,
                                         std::string_view ACmd) {
  for (const std::string& line : ACapabilities) {
    std::string rest = line;
    if (TextEqualsIgnoreCase(CutToken(rest, " "), ACmd)) {
      return FactsOf(rest);
    }
  }
  return {};
}

int CapabilityLineIndex(const std::vector<std::string>& ACapabilities,
                        const std::string& AFeatLine) {
  const bool wholeLine = AFeatLine.find(' ') != std::string::npos;
  for (size_t i = 0; i < ACapabilities.size(); ++i) {
    const std::string line = TrimLeft(ACapabilities[i]);
    if (TextEqualsIgnoreCase(wholeLine ? line : FirstWordOf(line), AFeatLine)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int CapabilityLineIndexExact(const std::vector<std::string>& ACapabilities,
                             const std::string& AText) {
  for (size_t i = 0; i < ACapabilities.size(); ++i) {
    if (Trim(ACapabilities[i]) == AText) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool CapabilitiesOfferTLS(const std::vector<std::string>& ACapabilities) {
  for (const std::string& line : ACapabilities) {
    std::string rest = TrimLeft(line);
    if (!TextEqualsIgnoreCase(CutToken(rest, " "), "AUTH")) {
      continue;
    }
    for (const std::string& argument : FactsOf(rest)) {
      for (const char* known : kFTPAuthArguments) {
        if (TextEqualsIgnoreCase(argument, known)) {
          return true;
        }
      }
    }
    return false;
  }
  return false;
}

} // namespace ftpc

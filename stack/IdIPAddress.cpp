#include "stack/IdIPAddress.h"

#include <compare>
#include <limits>
#include <vector>

#include "base/IdResourceStrings.h"

namespace ftpc {

namespace {

int HexDigitValue(char AChar) {
  if (AChar >= '0' && AChar <= '9') {
    return AChar - '0';
  }
  if (AChar >= 'A' && AChar <= 'F') {
    return AChar - 'A' + 10;
  }
  if (AChar >= 'a' && AChar <= 'f') {
    return AChar - 'a' + 10;
  }
  return -1;
}

// Accumulates hexadecimal digits; false for an empty text, another character, or a value
// above AMax. With AMax at the 64-bit maximum the value wraps, keeping the low-order bytes.
bool ReadHexDigits(std::string_view ADigits, uint64_t AMax, uint64_t& VValue) {
  if (ADigits.empty()) {
    return false;
  }
  uint64_t value = 0;
  for (const char c : ADigits) {
    const int digit = HexDigitValue(c);
    if (digit < 0) {
      return false;
    }
    value = value * 16 + static_cast<uint64_t>(digit);
    if (value > AMax) {
      return false;
    }
  }
  VValue = value;
  return true;
}

// A trimmed hexadecimal number of at most 32 bits.
bool TryParseTrimmedHex(std::string_view AText, uint32_t& VValue) {
  uint64_t value = 0;
  if (!ReadHexDigits(Trim(AText), std::numeric_limits<uint32_t>::max(), value)) {
    return false;
  }
  VValue = static_cast<uint32_t>(value);
  return true;
}

constexpr size_t kMaxDots = 3;
constexpr size_t kMaxColons = 7;
constexpr size_t kIPv6Groups = 8;
constexpr uint32_t kMaxGroup = 0xFFFF;

// Where the separators of an IPv6 text lie.
struct TIPv6Separators {
  std::vector<size_t> Colons;
  std::vector<size_t> Dots;
};

bool IsHexLetter(char AChar) {
  return HexDigitValue(AChar) >= 10;
}

// Records the colons and dots; false for a character or a count that no IPv6 text has.
bool ScanIPv6Separators(std::string_view AText, TIPv6Separators& VSeps) {
  for (size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == '.') {
      if (VSeps.Dots.size() == kMaxDots) {
        return false;
      }
      VSeps.Dots.push_back(i);
    } else if (c == ':') {
      if (VSeps.Colons.size() == kMaxColons) {
        return false;
      }
      VSeps.Colons.push_back(i);
    } else if (!(c >= '0' && c <= '9') && !(IsHexLetter(c) && VSeps.Dots.empty())) {
      return false;
    }
  }
  return true;
}

bool SeparatorCountsValid(const TIPv6Separators& ASeps) {
  const size_t colons = ASeps.Colons.size();
  if (ASeps.Dots.empty()) {
    return colons >= 2 && colons <= 7;
  }
  return ASeps.Dots.size() == kMaxDots && colons >= 2 && colons <= 6 &&
         ASeps.Dots.front() > ASeps.Colons.back();
}

std::string HexText(uint32_t AValue, bool AFourDigits) {
  return FormatInvariant(AFourDigits ? "%.4X" : "%X", {AValue});
}

struct ZeroRun {
  size_t Start = 0;
  size_t Length = 0;
};

// RFC 5952 4.2: the longest run of zero groups, the first one on a tie; runs of one group
// are not shortened.
ZeroRun LongestZeroRun(const TIdIPv6Address& AAddress) {
  ZeroRun best;
  ZeroRun current;
  for (size_t i = 0; i < AAddress.size(); ++i) {
    if (AAddress[i] != 0) {
      current.Length = 0;
      continue;
    }
    if (current.Length == 0) {
      current.Start = i;
    }
    ++current.Length;
    if (current.Length > best.Length) {
      best = current;
    }
  }
  return best.Length >= 2 ? best : ZeroRun{};
}

// Appends one hexadecimal group and its ":"; false when the text is not a group.
bool AppendGroup(std::string_view AText, std::string& VOut) {
  uint32_t value = 0;
  if (!TryParseTrimmedHex(AText, value) || value > kMaxGroup) {
    return false;
  }
  VOut += HexText(value, false);
  VOut += ':';
  return true;
}

bool ReadByte(std::string_view AText, uint32_t& VValue) {
  const int32_t value = ParseTrimmedInt(AText, -1);
  if (value < 0 || value > 255) {
    return false;
  }
  VValue = static_cast<uint32_t>(value);
  return true;
}

// Appends the dotted IPv4 tail as two groups of four hexadecimal digits.
bool AppendDottedTail(std::string_view AText, const TIPv6Separators& ASeps, std::string& VOut) {
  const size_t lastColon = ASeps.Colons.back();
  const size_t d1 = ASeps.Dots[0];
  const size_t d2 = ASeps.Dots[1];
  const size_t d3 = ASeps.Dots[2];
  // The fourth part is read from at most three characters; anything after them is ignored.
  const std::string_view parts[4] = {AText.substr(lastColon + 1, d1 - lastColon - 1),
                                     AText.substr(d1 + 1, d2 - d1 - 1),
                                     AText.substr(d2 + 1, d3 - d2 - 1), AText.substr(d3 + 1, 3)};
  uint32_t bytes[4] = {};
  for (size_t i = 0; i < 4; ++i) {
    if (!ReadByte(parts[i], bytes[i])) {
      return false;
    }
  }
  VOut += HexText((bytes[0] << 8) | bytes[1], true);
  VOut += ':';
  VOut += HexText((bytes[2] << 8) | bytes[3], true);
  return true;
}

// Writes the groups between the colons, expanding the one "::" to the missing zero groups.
bool AppendMiddleGroups(std::string_view AText, const TIPv6Separators& ASeps, std::string& VOut) {
  const size_t colons = ASeps.Colons.size();
  const size_t zeroGroups = (ASeps.Dots.empty() ? kIPv6Groups : kIPv6Groups - 1) - colons;
  bool compressed = false;
  for (size_t i = 1; i < colons; ++i) {
    const size_t start = ASeps.Colons[i - 1] + 1;
    const std::string_view group = AText.substr(start, ASeps.Colons[i] - start);
    if (group.empty()) {
      if (compressed) {
        return false;
      }
      compressed = true;
      for (size_t z = 0; z < zeroGroups; ++z) {
        VOut += "0:";
      }
    } else if (!AppendGroup(group, VOut)) {
      return false;
    }
  }
  return true;
}

std::string DottedDecimal(uint32_t AValue) {
  return FormatInvariant("%d.%d.%d.%d", {(AValue >> 24) & 0xFF, (AValue >> 16) & 0xFF,
                                         (AValue >> 8) & 0xFF, AValue & 0xFF});
}

// One part of lenient IPv4 text: "0x" hexadecimal, "0" octal, otherwise signed decimal.
// Hexadecimal and octal values wrap, which keeps exactly the low-order bytes that are used.
bool ReadLenientIPv4Part(std::string_view APart, uint64_t& VValue) {
  if (APart.size() >= 2 && APart[0] == '0' && (APart[1] == 'x' || APart[1] == 'X')) {
    return ReadHexDigits(APart.substr(2), std::numeric_limits<uint64_t>::max(), VValue);
  }
  if (APart[0] == '0' && APart.find_first_not_of("01234567") == std::string_view::npos) {
    uint64_t value = 0;
    for (const char c : APart) {
      value = value * 8 + static_cast<uint64_t>(c - '0');
    }
    VValue = value;
    return true;
  }
  if (!IsIntegerText(APart)) {
    return false;
  }
  VValue = static_cast<uint64_t>(ParseTrimmedInt64(APart, 0));
  return true;
}

} // namespace

std::string CanonicalIPv6Text(std::string_view AAddr) {
  if (AAddr.empty()) {
    return {};
  }
  std::string text;
  if (AAddr.front() == ':') {
    text += '0';
  }
  text += AAddr;
  if (text.back() == ':') {
    text += '0';
  }
  TIPv6Separators seps;
  if (!ScanIPv6Separators(text, seps) || !SeparatorCountsValid(seps)) {
    return {};
  }
  const std::string_view view(text);
  std::string out;
  if (!AppendGroup(view.substr(0, seps.Colons.front()), out) ||
      !AppendMiddleGroups(view, seps, out)) {
    return {};
  }
  if (!seps.Dots.empty()) {
    return AppendDottedTail(view, seps, out) ? out : std::string();
  }
  if (!AppendGroup(view.substr(seps.Colons.back() + 1), out)) {
    return {};
  }
  out.pop_back();
  return out;
}

void IPv6TextToWords(std::string_view AAddr, TIdIPv6Address& VAddress, bool& VErr) {
  const std::string canonical = CanonicalIPv6Text(AAddr);
  if (canonical.empty()) {
    VErr = true;
    return;
  }
  std::string rest = canonical;
  for (uint16_t& word : VAddress) {
    uint32_t value = 0;
    word = TryParseTrimmedHex(CutToken(rest, ":"), value) ? static_cast<uint16_t>(value) : 0;
  }
  VErr = false;
}

void IPv6TextToAddress(std::string_view AAddr, TIdIPv6Address& VAddress) {
  bool err = false;
  IPv6TextToWords(AAddr, VAddress, err);
  if (err) {
    throw EIdInvalidIPv6Address(FormatInvariant(RSInvalidIPv6Address, {AAddr}));
  }
}

uint32_t IPv4TextToNumber(std::string_view AAddr, bool& VErr) {
  VErr = true;
  uint64_t value = 0;
  int expected = 4;
  std::string rest(AAddr);
  for (;;) {
    const std::string part = CutToken(rest, ".");
    if (part.empty()) {
      VErr = false;
      return static_cast<uint32_t>(value);
    }
    // A last part fills every byte still expected; any other part is one byte.
    const int width = (rest.empty() && expected > 1) ? expected : 1;
    uint64_t number = 0;
    if (!ReadLenientIPv4Part(part, number)) {
      return static_cast<uint32_t>(value);
    }
    const uint64_t mask = (uint64_t{1} << (8 * width)) - 1;
    value = ((value << (8 * width)) | (number & mask)) & 0xFFFFFFFFu;
    --expected;
  }
}

std::string CompressedIPv6Text(std::string_view AAddr) {
  TIdIPv6Address words{};
  bool error = false;
  IPv6TextToWords(AAddr, words, error);
  if (error) {
    return {};
  }
  const ZeroRun zeros = LongestZeroRun(words);
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) {
    if (zeros.Length > 0 && i == zeros.Start) {
      out += "::";
      i += zeros.Length - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') {
      out += ':';
    }
    out += FormatInvariant("%x", {static_cast<uint32_t>(words[i])});
  }
  return out;
}

std::string IPv6WordsToText(const TIdIPv6Address& AAddress) {
  std::string out;
  for (const uint16_t word : AAddress) {
    if (!out.empty()) {
      out += ':';
    }
    out += HexText(word, true);
  }
  return out;
}

// ---- TIdIPAddress --------------------------------------------------------------------------

std::unique_ptr<TIdIPAddress> TIdIPAddress::MakeAddressObject(std::string_view AIP) {
  auto result = MakeAddressObject(AIP, Id_IPv6);
  return result ? std::move(result) : MakeAddressObject(AIP, Id_IPv4);
}

std::unique_ptr<TIdIPAddress> TIdIPAddress::MakeAddressObject(std::string_view AIP,
                                                              TIdIPVersion AIPVersion) {
  auto result = std::make_unique<TIdIPAddress>();
  bool err = true;
  if (AIPVersion == Id_IPv6) {
    IPv6TextToWords(AIP, result->IPv6, err);
  } else if (AIPVersion == Id_IPv4) {
    result->FIPv4 = IPv4TextToNumber(AIP, err);
  }
  if (err) {
    return nullptr;
  }
  result->FAddrType = AIPVersion;
  return result;
}

int TIdIPAddress::CompareAddress(std::string_view AIP, bool& VErr) const {
  const auto other = MakeAddressObject(AIP);
  VErr = !other || other->FAddrType != FAddrType;
  if (VErr) {
    return 0;
  }
  const auto order = FAddrType == Id_IPv6 ? IPv6 <=> other->IPv6 : FIPv4 <=> other->FIPv4;
  return std::is_gt(order) ? 1 : (std::is_lt(order) ? -1 : 0);
}

TBytes TIdIPAddress::HToNBytes() const {
  TBytes result;
  if (FAddrType == Id_IPv6) {
    for (const uint16_t word : IPv6) {
      result.push_back(static_cast<uint8_t>(word >> 8));
      result.push_back(static_cast<uint8_t>(word & 0xFF));
    }
  } else {
    for (int shift = 24; shift >= 0; shift -= 8) {
      result.push_back(static_cast<uint8_t>((FIPv4 >> shift) & 0xFF));
    }
  }
  return result;
}

std::string TIdIPAddress::IPv4AsString() const {
  return FAddrType == Id_IPv4 ? DottedDecimal(FIPv4) : std::string();
}

std::string TIdIPAddress::IPv6AsString() const {
  return FAddrType == Id_IPv6 ? IPv6WordsToText(IPv6) : std::string();
}

std::string TIdIPAddress::IPAsString() const {
  return FAddrType == Id_IPv6 ? IPv6AsString() : IPv4AsString();
}

} // namespace ftpc

#include "global/IdGlobal.h"

#include <cstdio>

#include "core/IdResourceStrings.h"

namespace ftpc {

namespace {

constexpr char kReplacementChar = '?';

// Reads one code point from UTF-8 text at VPos; malformed input yields -1 and skips one byte.
int32_t NextCodePoint(std::string_view AText, size_t& VPos) {
  const auto lead = static_cast<uint8_t>(AText[VPos]);
  if (lead < 0x80) {
    ++VPos;
    return lead;
  }
  size_t extra = 0;
  int32_t cp = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
  } else {
    ++VPos;
    return -1;
  }
  if (VPos + extra >= AText.size()) {
    ++VPos;
    return -1;
  }
  for (size_t i = 1; i <= extra; ++i) {
    const auto next = static_cast<uint8_t>(AText[VPos + i]);
    if ((next & 0xC0) != 0x80) {
      ++VPos;
      return -1;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  VPos += extra + 1;
  return cp;
}

void AppendUtf8(int32_t ACodePoint, std::string& VText) {
  if (ACodePoint < 0x80) {
    VText.push_back(static_cast<char>(ACodePoint));
  } else if (ACodePoint < 0x800) {
    VText.push_back(static_cast<char>(0xC0 | (ACodePoint >> 6)));
    VText.push_back(static_cast<char>(0x80 | (ACodePoint & 0x3F)));
  } else if (ACodePoint < 0x10000) {
    VText.push_back(static_cast<char>(0xE0 | (ACodePoint >> 12)));
    VText.push_back(static_cast<char>(0x80 | ((ACodePoint >> 6) & 0x3F)));
    VText.push_back(static_cast<char>(0x80 | (ACodePoint & 0x3F)));
  } else {
    VText.push_back(static_cast<char>(0xF0 | (ACodePoint >> 18)));
    VText.push_back(static_cast<char>(0x80 | ((ACodePoint >> 12) & 0x3F)));
    VText.push_back(static_cast<char>(0x80 | ((ACodePoint >> 6) & 0x3F)));
    VText.push_back(static_cast<char>(0x80 | (ACodePoint & 0x3F)));
  }
}

// A one-byte encoding: code points up to AMaxCodePoint map to the byte of the same value.
class TSingleByteEncoding final : public TEncoding {
public:
  TSingleByteEncoding(uint32_t ACodePage, int32_t AMaxCodePoint)
      : FCodePage(ACodePage), FMaxCodePoint(AMaxCodePoint) {}
  uint32_t CodePage() const override { return FCodePage; }

  void Encode(std::string_view AText, TBytes& VBytes) const override {
    VBytes.reserve(VBytes.size() + AText.size());
    size_t pos = 0;
    while (pos < AText.size()) {
      const int32_t cp = NextCodePoint(AText, pos);
      VBytes.push_back(cp >= 0 && cp <= FMaxCodePoint ? static_cast<uint8_t>(cp)
                                                      : static_cast<uint8_t>(kReplacementChar));
    }
  }

  void Decode(const uint8_t* AData, size_t ALength, std::string& VText) const override {
    VText.reserve(VText.size() + ALength);
    for (size_t i = 0; i < ALength; ++i) {
      const int32_t cp = AData[i];
      if (cp <= FMaxCodePoint) {
        AppendUtf8(cp, VText);
      } else {
        VText.push_back(kReplacementChar);
      }
    }
  }

private:
  uint32_t FCodePage;
  int32_t FMaxCodePoint;
};

class TUTF8Encoding final : public TEncoding {
public:
  uint32_t CodePage() const override { return 65001; }

  void Encode(std::string_view AText, TBytes& VBytes) const override {
    VBytes.insert(VBytes.end(), AText.begin(), AText.end());
  }

  // Malformed sequences decode to '?', so the result is always valid UTF-8.
  void Decode(const uint8_t* AData, size_t ALength, std::string& VText) const override {
    const std::string_view bytes(reinterpret_cast<const char*>(AData), ALength);
    VText.reserve(VText.size() + ALength);
    size_t pos = 0;
    while (pos < bytes.size()) {
      const int32_t cp = NextCodePoint(bytes, pos);
      if (cp < 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        VText.push_back(kReplacementChar);
      } else {
        AppendUtf8(cp, VText);
      }
    }
  }
};

} // namespace

TBytes TEncoding::GetBytes(std::string_view AText) const {
  TBytes result;
  Encode(AText, result);
  return result;
}

std::string TEncoding::GetString(const uint8_t* AData, size_t ALength) const {
  std::string result;
  Decode(AData, ALength, result);
  return result;
}

std::string TEncoding::GetString(const TBytes& ABytes) const {
  return GetString(ABytes.data(), ABytes.size());
}

TEncoding* ASCIIEncoding() {
  static TSingleByteEncoding encoding(20127, 0x7F);
  return &encoding;
}

TEncoding* Latin1Encoding() {
  static TSingleByteEncoding encoding(28591, 0xFF);
  return &encoding;
}

TEncoding* UTF8Encoding() {
  static TUTF8Encoding encoding;
  return &encoding;
}

// ---- FormatInvariant ---------------------------------------------------------------------

namespace {

struct TFormatSpec {
  bool LeftAlign = false;
  int Width = -1;
  int Precision = -1;
  char Type = 's';
};

// Parses "[-][width][.precision]type" at APos (just after '%'); returns false when malformed.
bool ParseFormatSpec(std::string_view AFormat, size_t& VPos, TFormatSpec& VSpec) {
  if (VPos < AFormat.size() && AFormat[VPos] == '-') {
    VSpec.LeftAlign = true;
    ++VPos;
  }
  auto readNumber = [&](int& VValue) {
    while (VPos < AFormat.size() && AFormat[VPos] >= '0' && AFormat[VPos] <= '9') {
      VValue = (VValue < 0 ? 0 : VValue) * 10 + (AFormat[VPos] - '0');
      if (VValue > 1000) {
        VValue = 1000;
      }
      ++VPos;
    }
  };
  readNumber(VSpec.Width);
  if (VPos < AFormat.size() && AFormat[VPos] == '.') {
    ++VPos;
    VSpec.Precision = 0;
    readNumber(VSpec.Precision);
  }
  if (VPos >= AFormat.size()) {
    return false;
  }
  VSpec.Type = AFormat[VPos++];
  return true;
}

std::string FormatNumber(const TFormatSpec& ASpec, const TFormatArg& AArg) {
  const auto& value = AArg.Value();
  char buffer[64];
  std::string fmt = "%";
  if (ASpec.Precision >= 0 && ASpec.Type != 'f') {
    fmt += "0" + std::to_string(ASpec.Precision);
  } else if (ASpec.Precision >= 0) {
    fmt += "." + std::to_string(ASpec.Precision);
  }
  if (ASpec.Type == 'f') {
    double d = 0;
    if (const auto* pd = std::get_if<double>(&value)) {
      d = *pd;
    } else if (const auto* pi = std::get_if<int64_t>(&value)) {
      d = static_cast<double>(*pi);
    } else if (const auto* pu = std::get_if<uint64_t>(&value)) {
      d = static_cast<double>(*pu);
    }
    fmt += "f";
    std::snprintf(buffer, sizeof buffer, fmt.c_str(), d);
    return buffer;
  }
  uint64_t bits = 0;
  bool negative = false;
  if (const auto* pi = std::get_if<int64_t>(&value)) {
    negative = *pi < 0;
    bits = static_cast<uint64_t>(*pi);
  } else if (const auto* pu = std::get_if<uint64_t>(&value)) {
    bits = *pu;
  } else if (const auto* pd = std::get_if<double>(&value)) {
    bits = static_cast<uint64_t>(static_cast<int64_t>(*pd));
    negative = *pd < 0;
  }
  switch (ASpec.Type) {
  case 'd':
    fmt += "lld";
    std::snprintf(buffer, sizeof buffer, fmt.c_str(),
                  negative ? static_cast<long long>(bits) : static_cast<long long>(bits));
    break;
  case 'x':
  case 'X':
    fmt += "llX";
    if (ASpec.Type == 'x') {
      fmt.back() = 'x';
    }
    std::snprintf(buffer, sizeof buffer, fmt.c_str(), static_cast<unsigned long long>(bits));
    break;
  default: // 'u'
    fmt += "llu";
    std::snprintf(buffer, sizeof buffer, fmt.c_str(), static_cast<unsigned long long>(bits));
    break;
  }
  return buffer;
}

std::string FormatText(const TFormatSpec& ASpec, const TFormatArg& AArg) {
  const auto& value = AArg.Value();
  if (const auto* ps = std::get_if<std::string>(&value)) {
    std::string text = *ps;
    if (ASpec.Precision >= 0 && text.size() > static_cast<size_t>(ASpec.Precision)) {
      text.resize(static_cast<size_t>(ASpec.Precision));
    }
    return text;
  }
  TFormatSpec numeric = ASpec;
  numeric.Type = std::holds_alternative<double>(value) ? 'f' : 'd';
  numeric.Precision = -1;
  return FormatNumber(numeric, AArg);
}

} // namespace

std::string FormatInvariant(std::string_view AFormat, std::initializer_list<TFormatArg> AArgs) {
  std::string result;
  result.reserve(AFormat.size() + 16 * AArgs.size());
  const TFormatArg* nextArg = AArgs.begin();
  size_t pos = 0;
  while (pos < AFormat.size()) {
    const char c = AFormat[pos++];
    if (c != '%') {
      result.push_back(c);
      continue;
    }
    if (pos < AFormat.size() && AFormat[pos] == '%') {
      result.push_back('%');
      ++pos;
      continue;
    }
    const size_t specStart = pos - 1;
    TFormatSpec spec;
    if (!ParseFormatSpec(AFormat, pos, spec) || nextArg == AArgs.end()) {
      result.append(AFormat.substr(specStart, pos - specStart));
      continue;
    }
    std::string piece =
        spec.Type == 's' ? FormatText(spec, *nextArg) : FormatNumber(spec, *nextArg);
    ++nextArg;
    if (spec.Width > 0 && piece.size() < static_cast<size_t>(spec.Width)) {
      const std::string pad(static_cast<size_t>(spec.Width) - piece.size(), ' ');
      piece = spec.LeftAlign ? piece + pad : pad + piece;
    }
    result += piece;
  }
  return result;
}

} // namespace ftpc

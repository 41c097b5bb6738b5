#include "global/IdGlobal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/IdResourceStrings.h"
#include "global/IdStream.h"

namespace ftpc {

namespace {

constexpr char kReplacementChar = '?';

constexpr int32_t kMaxCodePoint = 0x10FFFF;
constexpr int32_t kFirstSurrogate = 0xD800;
constexpr int32_t kLastSurrogate = 0xDFFF;
// The smallest code point that needs a sequence of 2, 3 and 4 bytes: anything below is an
// overlong form (C0 AF for "/"), which would let a peer smuggle in characters the text was
// checked for.
constexpr int32_t kMinCodePointOfLength[] = {0, 0x80, 0x800, 0x10000};

bool IsScalarValue(int32_t ACodePoint, size_t AExtraBytes) {
  return ACodePoint >= kMinCodePointOfLength[AExtraBytes] && ACodePoint <= kMaxCodePoint &&
         (ACodePoint < kFirstSurrogate || ACodePoint > kLastSurrogate);
}

// Reads one code point from UTF-8 text at VPos; malformed input (a bad lead or continuation
// byte, a truncated or overlong sequence, a surrogate, a value above U+10FFFF) yields -1 and
// skips one byte.
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
  if (!IsScalarValue(cp, extra)) {
    ++VPos;
    return -1;
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
      if (cp < 0) {
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

struct TFormatDirective {
  bool LeftAlign = false;
  int Width = -1;
  int Precision = -1;
  char Type = 's';
};

// Parses "[-][width][.precision]type" at APos (just after '%'); returns false when malformed.
bool ParseFormatDirective(std::string_view AFormat, size_t& VPos, TFormatDirective& VDirective) {
  if (VPos < AFormat.size() && AFormat[VPos] == '-') {
    VDirective.LeftAlign = true;
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
  readNumber(VDirective.Width);
  if (VPos < AFormat.size() && AFormat[VPos] == '.') {
    ++VPos;
    VDirective.Precision = 0;
    readNumber(VDirective.Precision);
  }
  if (VPos >= AFormat.size()) {
    return false;
  }
  VDirective.Type = AFormat[VPos++];
  return true;
}

std::string FormatNumber(const TFormatDirective& ADirective, const TFormatArg& AArg) {
  const auto& value = AArg.Value();
  char buffer[64];
  std::string fmt = "%";
  if (ADirective.Precision >= 0 && ADirective.Type != 'f') {
    fmt += "0" + std::to_string(ADirective.Precision);
  } else if (ADirective.Precision >= 0) {
    fmt += "." + std::to_string(ADirective.Precision);
  }
  if (ADirective.Type == 'f') {
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
  switch (ADirective.Type) {
  case 'd':
    fmt += "lld";
    std::snprintf(buffer, sizeof buffer, fmt.c_str(),
                  negative ? static_cast<long long>(bits) : static_cast<long long>(bits));
    break;
  case 'x':
  case 'X':
    fmt += "llX";
    if (ADirective.Type == 'x') {
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

std::string FormatText(const TFormatDirective& ADirective, const TFormatArg& AArg) {
  const auto& value = AArg.Value();
  if (const auto* ps = std::get_if<std::string>(&value)) {
    std::string text = *ps;
    if (ADirective.Precision >= 0 && text.size() > static_cast<size_t>(ADirective.Precision)) {
      text.resize(static_cast<size_t>(ADirective.Precision));
    }
    return text;
  }
  TFormatDirective numeric = ADirective;
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
    const size_t directiveStart = pos - 1;
    TFormatDirective directive;
    if (!ParseFormatDirective(AFormat, pos, directive) || nextArg == AArgs.end()) {
      result.append(AFormat.substr(directiveStart, pos - directiveStart));
      continue;
    }
    std::string piece =
        directive.Type == 's' ? FormatText(directive, *nextArg) : FormatNumber(directive, *nextArg);
    ++nextArg;
    if (directive.Width > 0 && piece.size() < static_cast<size_t>(directive.Width)) {
      const std::string pad(static_cast<size_t>(directive.Width) - piece.size(), ' ');
      piece = directive.LeftAlign ? piece + pad : pad + piece;
    }
    result += piece;
  }
  return result;
}

// ---- Assertions ---------------------------------------------------------------------------

void RaiseAssertionFailure(std::string_view AHelper) {
  throw EIdAssertionFailure(FormatInvariant(RSAssertionFailure, {AHelper}));
}

namespace {

// The range [AIndex, AIndex + ALength) of something ASize long, as size_t values, after the
// argument checks every positional helper shares. ALength -1 means to the end; both are
// clipped to ASize.
struct TRange {
  size_t Start = 0;
  size_t Count = 0;
};

TRange ClippedRange(size_t ASize, int AIndex, int ALength, std::string_view AHelper) {
  if (AIndex < 0) {
    RaiseAssertionFailure(AHelper);
  }
  const auto count = UsableCount(static_cast<int64_t>(ASize), AIndex, ALength);
  return TRange{count == 0 ? 0 : static_cast<size_t>(AIndex), static_cast<size_t>(count)};
}

} // namespace

// ---- Text and byte conversion -------------------------------------------------------------

TBytes TextToBytes(std::string_view AText, TEncoding* AEncoding) {
  return ResolveEncoding(AEncoding)->GetBytes(AText);
}

TBytes TextToBytes(std::string_view AText, int ALength, int AIndex, TEncoding* AEncoding) {
  const TRange range = ClippedRange(AText.size(), AIndex, ALength, "TextToBytes");
  return TextToBytes(AText.substr(range.Start, range.Count), AEncoding);
}

TBytes CharToBytes(char32_t AChar, TEncoding* AEncoding) {
  std::string text;
  // Code points outside Unicode cannot be held by any encoding.
  AppendUtf8(AChar <= kMaxCodePoint ? static_cast<int32_t>(AChar) : kReplacementChar, text);
  return TextToBytes(text, AEncoding);
}

std::string BytesToText(const TBytes& ABytes, TEncoding* AEncoding) {
  return ResolveEncoding(AEncoding)->GetString(ABytes);
}

std::string BytesToText(const TBytes& ABytes, int AIndex, int ALength, TEncoding* AEncoding) {
  const TRange range = ClippedRange(ABytes.size(), AIndex, ALength, "BytesToText");
  if (range.Count == 0) {
    return {};
  }
  return ResolveEncoding(AEncoding)->GetString(ABytes.data() + range.Start, range.Count);
}

void WriteTextToStream(TStream& AStream, std::string_view AText, TEncoding* AEncoding) {
  if (AText.empty()) {
    return;
  }
  const TBytes bytes = TextToBytes(AText, AEncoding);
  AStream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

// ---- Case, trimming and token cutting -----------------------------------------------------

char UpperChar(char AChar) {
  return AChar >= 'a' && AChar <= 'z' ? static_cast<char>(AChar - 'a' + 'A') : AChar;
}

namespace {

char LowerChar(char AChar) {
  return AChar >= 'A' && AChar <= 'Z' ? static_cast<char>(AChar - 'A' + 'a') : AChar;
}

bool EqualsFolded(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) {
    return false;
  }
  for (size_t i = 0; i < A.size(); ++i) {
    if (UpperChar(A[i]) != UpperChar(B[i])) {
      return false;
    }
  }
  return true;
}

} // namespace

std::string UpperCase(std::string_view AText) {
  std::string result(AText);
  for (char& c : result) {
    c = UpperChar(c);
  }
  return result;
}

std::string LowerCase(std::string_view AText) {
  std::string result(AText);
  for (char& c : result) {
    c = LowerChar(c);
  }
  return result;
}

std::string TrimLeft(std::string_view AText) {
  size_t start = 0;
  while (start < AText.size() && IsBlankOrControl(AText[start])) {
    ++start;
  }
  return std::string(AText.substr(start));
}

std::string TrimRight(std::string_view AText) {
  size_t end = AText.size();
  while (end > 0 && IsBlankOrControl(AText[end - 1])) {
    --end;
  }
  return std::string(AText.substr(0, end));
}

std::string Trim(std::string_view AText) { return TrimLeft(TrimRight(AText)); }

std::string CutToken(std::string& VInput, std::string_view ADelim, bool ADelete,
                     bool ACaseSensitive) {
  size_t pos = std::string::npos;
  if (!ADelim.empty()) {
    pos = ACaseSensitive ? VInput.find(ADelim) : UpperCase(VInput).find(UpperCase(ADelim));
  }
  if (pos == std::string::npos) {
    std::string result = VInput;
    if (ADelete) {
      VInput.clear();
    }
    return result;
  }
  std::string result = VInput.substr(0, pos);
  if (ADelete) {
    VInput.erase(0, pos + ADelim.size());
  }
  return result;
}

std::string CutTokenIgnoreCase(std::string& VInput, std::string_view ADelim, bool ADelete) {
  return CutToken(VInput, ADelim, ADelete, false);
}

bool TextEqualsIgnoreCase(std::string_view A, std::string_view B) { return EqualsFolded(A, B); }

bool TextHasPrefix(std::string_view AText, std::string_view APrefix) {
  return AText.size() >= APrefix.size() && EqualsFolded(AText.substr(0, APrefix.size()), APrefix);
}

bool TextHasSuffix(std::string_view AText, std::string_view ASuffix) {
  return AText.size() >= ASuffix.size() &&
         EqualsFolded(AText.substr(AText.size() - ASuffix.size()), ASuffix);
}

int IndexOfText(std::string_view AText, const std::vector<std::string>& AValues,
                bool ACaseSensitive) {
  for (size_t i = 0; i < AValues.size(); ++i) {
    if (ACaseSensitive ? AValues[i] == AText : EqualsFolded(AValues[i], AText)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// ---- Numbers ------------------------------------------------------------------------------

namespace {

// Parses an optional sign and decimal digits spanning the whole text into a value within
// [AMin, AMax]; false for anything else, including overflow.
bool TryParseInteger(std::string_view AText, int64_t AMin, int64_t AMax, int64_t& VValue) {
  size_t pos = 0;
  bool negative = false;
  if (pos < AText.size() && (AText[pos] == '+' || AText[pos] == '-')) {
    negative = AText[pos] == '-';
    ++pos;
  }
  if (pos == AText.size()) {
    return false;
  }
  // Accumulate the magnitude unsigned, so the limit check itself cannot overflow.
  const uint64_t limit = negative ? 0 - static_cast<uint64_t>(AMin) : static_cast<uint64_t>(AMax);
  uint64_t magnitude = 0;
  for (; pos < AText.size(); ++pos) {
    if (!IsDigitChar(AText[pos])) {
      return false;
    }
    const auto digit = static_cast<uint64_t>(AText[pos] - '0');
    if (magnitude > (limit - digit) / 10) {
      return false;
    }
    magnitude = magnitude * 10 + digit;
  }
  VValue = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool TryParseInt32(std::string_view AText, int32_t& VValue) {
  int64_t value = 0;
  if (!TryParseInteger(AText, INT32_MIN, INT32_MAX, value)) {
    return false;
  }
  VValue = static_cast<int32_t>(value);
  return true;
}

} // namespace

namespace {

// AText without blanks and control characters at either end, without copying.
std::string_view TrimmedView(std::string_view AText) {
  while (!AText.empty() && IsBlankOrControl(AText.front())) {
    AText.remove_prefix(1);
  }
  while (!AText.empty() && IsBlankOrControl(AText.back())) {
    AText.remove_suffix(1);
  }
  return AText;
}

} // namespace

int32_t ParseTrimmedInt(std::string_view AText) {
  const std::string_view trimmed = TrimmedView(AText);
  int32_t value = 0;
  if (!TryParseInt32(trimmed, value)) {
    throw EIdConvertError(FormatInvariant(RSInvalidIntegerValue, {trimmed}));
  }
  return value;
}

int32_t ParseTrimmedInt(std::string_view AText, int32_t ADefault) {
  int32_t value = 0;
  return TryParseInt32(TrimmedView(AText), value) ? value : ADefault;
}

int64_t ParseTrimmedInt64(std::string_view AText, int64_t ADefault) {
  int64_t value = 0;
  return TryParseInteger(TrimmedView(AText), INT64_MIN, INT64_MAX, value) ? value : ADefault;
}

bool IsIntegerText(std::string_view AText) {
  int64_t value = 0;
  return TryParseInteger(AText, INT64_MIN, INT64_MAX, value);
}

bool AreAllDigits(std::string_view AText, int ALength, int AIndex) {
  const TRange range = ClippedRange(AText.size(), AIndex, ALength, "AreAllDigits");
  if (range.Count == 0) {
    return false;
  }
  const std::string_view run = AText.substr(range.Start, range.Count);
  for (const char c : run) {
    if (!IsDigitChar(c)) {
      return false;
    }
  }
  return true;
}

int64_t OctalTextToInt64(std::string_view AText) {
  // Unsigned arithmetic: an over-long text wraps instead of overflowing.
  uint64_t value = 0;
  for (const char c : AText) {
    value = value * 8 + (IsDigitChar(c) ? static_cast<uint64_t>(c - '0') : 0);
  }
  return static_cast<int64_t>(value);
}

int64_t UsableCount(int64_t ALength, int64_t AOffset, int64_t ACount) {
  const int64_t available = AOffset >= ALength ? 0 : ALength - Max(AOffset, int64_t{0});
  return ACount >= 0 ? Min(available, ACount) : available;
}

int UsableCount(const TBytes& ABytes, int AOffset, int ACount) {
  const int64_t count = UsableCount(static_cast<int64_t>(ABytes.size()), AOffset, ACount);
  return static_cast<int>(Min(count, int64_t{INT32_MAX}));
}

int UsableCount(std::string_view AText, int AOffset, int ACount) {
  const int64_t count = UsableCount(static_cast<int64_t>(AText.size()), AOffset, ACount);
  return static_cast<int>(Min(count, int64_t{INT32_MAX}));
}

// ---- Time ---------------------------------------------------------------------------------

uint32_t TickSpan(uint32_t AOldTicks, uint32_t ANewTicks) {
  if (ANewTicks >= AOldTicks) {
    return ANewTicks - AOldTicks;
  }
  return UINT32_MAX - AOldTicks + ANewTicks;
}

// ---- Other text utilities -----------------------------------------------------------------

std::string WithTrailingPathDelimiter(std::string_view APath) {
  std::string result(APath);
  if (result.empty() || result.back() != PathDelim) {
    result.push_back(PathDelim);
  }
  return result;
}

std::string ReplaceFirstOccurrence(std::string_view AText, std::string_view AOld,
                                   std::string_view ANew) {
  std::string result(AText);
  const size_t pos = AOld.empty() ? std::string::npos : result.find(AOld);
  if (pos != std::string::npos) {
    result.replace(pos, AOld.size(), ANew);
  }
  return result;
}

void DeleteChars(std::string& VText, int AIndex, int ACount) {
  const TRange range = ClippedRange(VText.size(), AIndex, ACount < 0 ? 0 : ACount, "DeleteChars");
  VText.erase(range.Start, range.Count);
}

int CharIndexInSet(std::string_view AText, int ACharPos, std::string_view ASet) {
  if (ACharPos < 0) {
    throw EIdException(std::string(RSInvalidCharPos));
  }
  if (static_cast<size_t>(ACharPos) >= AText.size()) {
    return -1;
  }
  const size_t pos = ASet.find(AText[static_cast<size_t>(ACharPos)]);
  return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

bool CharIsInSet(std::string_view AText, int ACharPos, std::string_view ASet) {
  return CharIndexInSet(AText, ACharPos, ASet) >= 0;
}

bool CharIsAt(std::string_view AText, int ACharPos, char AChar) {
  return CharIndexInSet(AText, ACharPos, std::string_view(&AChar, 1)) >= 0;
}

// ---- Byte arrays --------------------------------------------------------------------------

namespace {

// Checks that AContainerSize holds ALength bytes at AIndex, without overflow.
void RequireRun(size_t AContainerSize, int AIndex, int ALength, std::string_view AHelper) {
  if (AIndex < 0 || ALength < 0 ||
      static_cast<int64_t>(AIndex) + ALength > static_cast<int64_t>(AContainerSize)) {
    RaiseAssertionFailure(AHelper);
  }
}

// Stores the object representation of AValue (host order) at ADestIndex.
template <typename T>
void CopyValueToBytes(const T& AValue, TBytes& VDest, int ADestIndex, std::string_view AHelper) {
  RequireRun(VDest.size(), ADestIndex, static_cast<int>(sizeof(T)), AHelper);
  std::memcpy(VDest.data() + ADestIndex, &AValue, sizeof(T));
}

template <typename T> T BytesToValue(const TBytes& AValue, int AIndex, std::string_view AHelper) {
  RequireRun(AValue.size(), AIndex, static_cast<int>(sizeof(T)), AHelper);
  T result{};
  std::memcpy(&result, AValue.data() + AIndex, sizeof(T));
  return result;
}

template <typename T> TBytes ValueToNewBytes(const T& AValue) {
  TBytes result(sizeof(T));
  std::memcpy(result.data(), &AValue, sizeof(T));
  return result;
}

} // namespace

void CopyBytes(const TBytes& ASource, int ASourceIndex, TBytes& VDest, int ADestIndex,
               int ALength) {
  RequireRun(ASource.size(), ASourceIndex, ALength, "CopyBytes");
  RequireRun(VDest.size(), ADestIndex, ALength, "CopyBytes");
  if (ALength > 0) {
    // memmove: the byte buffer compacts its storage onto itself.
    std::memmove(VDest.data() + ADestIndex, ASource.data() + ASourceIndex,
                 static_cast<size_t>(ALength));
  }
}

void CopyWordToBytes(uint16_t ASource, TBytes& VDest, int ADestIndex) {
  CopyValueToBytes(ASource, VDest, ADestIndex, "CopyWordToBytes");
}

void CopyLongWordToBytes(uint32_t ASource, TBytes& VDest, int ADestIndex) {
  CopyValueToBytes(ASource, VDest, ADestIndex, "CopyLongWordToBytes");
}

void CopyInt64ToBytes(int64_t ASource, TBytes& VDest, int ADestIndex) {
  CopyValueToBytes(ASource, VDest, ADestIndex, "CopyInt64ToBytes");
}

void CopyIPv6ToBytes(const TIdIPv6Address& ASource, TBytes& VDest, int ADestIndex) {
  CopyValueToBytes(ASource, VDest, ADestIndex, "CopyIPv6ToBytes");
}

uint16_t BytesToWord(const TBytes& AValue, int AIndex) {
  return BytesToValue<uint16_t>(AValue, AIndex, "BytesToWord");
}

uint32_t BytesToLongWord(const TBytes& AValue, int AIndex) {
  return BytesToValue<uint32_t>(AValue, AIndex, "BytesToLongWord");
}

int64_t BytesToInt64(const TBytes& AValue, int AIndex) {
  return BytesToValue<int64_t>(AValue, AIndex, "BytesToInt64");
}

TIdIPv6Address BytesToIPv6(const TBytes& AValue, int AIndex) {
  return BytesToValue<TIdIPv6Address>(AValue, AIndex, "BytesToIPv6");
}

TBytes ValueToBytes(uint8_t AValue) { return ValueToNewBytes(AValue); }
TBytes ValueToBytes(uint16_t AValue) { return ValueToNewBytes(AValue); }
TBytes ValueToBytes(uint32_t AValue) { return ValueToNewBytes(AValue); }
TBytes ValueToBytes(int64_t AValue) { return ValueToNewBytes(AValue); }

TBytes SliceBytes(const TBytes& ABytes, int ALength, int AOffset) {
  const TRange range = ClippedRange(ABytes.size(), AOffset, ALength, "SliceBytes");
  const auto first = ABytes.begin() + static_cast<ptrdiff_t>(range.Start);
  return TBytes(first, first + static_cast<ptrdiff_t>(range.Count));
}

void FillBytes(TBytes& VBytes, int ACount, uint8_t AValue) {
  RequireRun(VBytes.size(), 0, ACount, "FillBytes");
  std::fill_n(VBytes.begin(), ACount, AValue);
}

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(uint8_t AByte, std::string& VText) {
  VText.push_back(kHexDigits[AByte >> 4]);
  VText.push_back(kHexDigits[AByte & 0x0F]);
}

} // namespace

std::string BytesToHex(const TBytes& ABytes, int ACount, int AIndex) {
  const TRange range = ClippedRange(ABytes.size(), AIndex, ACount, "BytesToHex");
  std::string result;
  result.reserve(range.Count * 2);
  for (size_t i = 0; i < range.Count; ++i) {
    AppendHexByte(ABytes[range.Start + i], result);
  }
  return result;
}

std::string LongWordToHex(uint32_t AValue) {
  std::string result;
  result.reserve(8);
  for (int shift = 24; shift >= 0; shift -= 8) {
    AppendHexByte(static_cast<uint8_t>(AValue >> shift), result);
  }
  return result;
}

} // namespace ftpc

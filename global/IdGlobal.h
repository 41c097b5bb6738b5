// Text and byte helpers shared by every layer: byte arrays, the three wire encodings,
// locale-independent formatting, token cutting, integer parsing, ticks and byte utilities.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/IdException.h"

namespace ftpc {

using TBytes = std::vector<uint8_t>;

// Days since 1899-12-30; the fraction is the time of day; 0 means "no time".
using TDateTime = double;

enum TIdIPVersion : uint8_t { Id_IPv4, Id_IPv6 };

// An IPv6 address as eight 16-bit words, the first word holding the first group; words are in
// host order unless a caller says otherwise.
using TIdIPv6Address = std::array<uint16_t, 8>;

class TStream;

// A helper was called with a position or count its contract forbids: a programming error, never
// part of normal operation. The message names the helper.
FTPC_DECLARE_EXCEPTION(EIdAssertionFailure, EIdException);

// Raises EIdAssertionFailure naming AHelper.
[[noreturn]] void RaiseAssertionFailure(std::string_view AHelper);

// ---- Encodings ---------------------------------------------------------------------------

// Converts text (UTF-8 in std::string) to wire bytes and back. Characters that an encoding
// cannot hold become '?'. Encodings are shared process-wide and never owned by their users.
class TEncoding : public TObject {
public:
  virtual uint32_t CodePage() const = 0;
  // Appends the bytes of AText to VBytes.
  virtual void Encode(std::string_view AText, TBytes& VBytes) const = 0;
  // Appends the text of ALength bytes at AData to VText.
  virtual void Decode(const uint8_t* AData, size_t ALength, std::string& VText) const = 0;

  TBytes GetBytes(std::string_view AText) const;
  std::string GetString(const uint8_t* AData, size_t ALength) const;
  std::string GetString(const TBytes& ABytes) const;
  std::string ClassName() const override { return "TEncoding"; }
};

TEncoding* ASCIIEncoding();  // US-ASCII, code page 20127
TEncoding* Latin1Encoding(); // ISO-8859-1, code page 28591
TEncoding* UTF8Encoding();   // UTF-8, code page 65001

// An unset encoding means US-ASCII.
inline TEncoding* ResolveEncoding(TEncoding* AEncoding) {
  return AEncoding != nullptr ? AEncoding : ASCIIEncoding();
}

// ---- Locale-independent formatting -------------------------------------------------------

// One argument of FormatInvariant: an integer, a floating-point number or a text.
class TFormatArg {
public:
  template <typename T>
    requires std::is_integral_v<T>
  TFormatArg(T AValue) { // NOLINT(google-explicit-constructor)
    if constexpr (std::is_signed_v<T>) {
      FValue = static_cast<int64_t>(AValue);
    } else {
      FValue = static_cast<uint64_t>(AValue);
    }
  }
  TFormatArg(double AValue) : FValue(AValue) {}                   // NOLINT
  TFormatArg(const char* AValue) : FValue(std::string(AValue)) {} // NOLINT
  TFormatArg(std::string AValue) : FValue(std::move(AValue)) {}   // NOLINT
  TFormatArg(std::string_view AValue) : FValue(std::string(AValue)) {} // NOLINT

  const std::variant<int64_t, uint64_t, double, std::string>& Value() const { return FValue; }

private:
  std::variant<int64_t, uint64_t, double, std::string> FValue;
};

// Formats %s, %d, %u, %x, %X, %f and %% (with optional '-', width and precision) the same
// way whatever the user's locale: '.' as decimal separator, English names.
std::string FormatInvariant(std::string_view AFormat, std::initializer_list<TFormatArg> AArgs = {});

// ---- Text and byte conversion ------------------------------------------------------------
//
// String positions and lengths count the bytes of the UTF-8 text (0-based), as everywhere in
// the library; byte positions are 0-based too. An unset encoding means US-ASCII.

TBytes TextToBytes(std::string_view AText, TEncoding* AEncoding = nullptr);
// Converts ALength bytes of AText from AIndex (ALength -1 means to the end; clipped to the
// text). A negative AIndex is a programming error.
TBytes TextToBytes(std::string_view AText, int ALength, int AIndex, TEncoding* AEncoding = nullptr);
// The bytes of one character (a Unicode code point).
TBytes CharToBytes(char32_t AChar, TEncoding* AEncoding = nullptr);
std::string BytesToText(const TBytes& ABytes, TEncoding* AEncoding = nullptr);
// Decodes ALength bytes from AIndex (ALength -1 means to the end; clipped to the array).
std::string BytesToText(const TBytes& ABytes, int AIndex, int ALength,
                        TEncoding* AEncoding = nullptr);
// Writes the encoded text to the stream; an empty text writes nothing.
void WriteTextToStream(TStream& AStream, std::string_view AText, TEncoding* AEncoding = nullptr);

// ---- Case, trimming and token cutting ------------------------------------------------------
//
// Case-insensitive operations fold the ASCII letters only. Protocol keywords, reply codes and
// feature names are ASCII, and a fold that keeps every byte in place keeps positions found in
// a folded copy valid in the original, whatever the user's locale.

char UpperChar(char AChar);
std::string UpperCase(std::string_view AText);
std::string LowerCase(std::string_view AText);

// Blanks and control characters: every byte of value 32 or below.
inline bool IsBlankOrControl(char AChar) { return static_cast<unsigned char>(AChar) <= 32; }
std::string Trim(std::string_view AText);
std::string TrimLeft(std::string_view AText);
std::string TrimRight(std::string_view AText);

// Returns the text before the first ADelim in VInput; with ADelete, VInput keeps the text after
// it (the delimiter is dropped). Without a delimiter in VInput (or with an empty ADelim) the
// whole input is returned and, with ADelete, VInput becomes empty.
std::string CutToken(std::string& VInput, std::string_view ADelim, bool ADelete = true,
                     bool ACaseSensitive = true);
std::string CutTokenIgnoreCase(std::string& VInput, std::string_view ADelim, bool ADelete = true);

bool TextEqualsIgnoreCase(std::string_view A, std::string_view B);
bool TextHasPrefix(std::string_view AText, std::string_view APrefix);
bool TextHasSuffix(std::string_view AText, std::string_view ASuffix);
// Index of the first element of AValues equal to AText; -1 when none is.
int IndexOfText(std::string_view AText, const std::vector<std::string>& AValues,
                bool ACaseSensitive = false);

// ---- Numbers -------------------------------------------------------------------------------
//
// The integer syntax is an optional sign followed by decimal digits, nothing else; a value out
// of the target type's range is not an integer.

// Trims blanks and control characters, then parses; raises EIdConvertError
// "'x' is not a valid integer value" when the text is not a 32-bit integer.
int32_t ParseTrimmedInt(std::string_view AText);
int32_t ParseTrimmedInt(std::string_view AText, int32_t ADefault);
int64_t ParseTrimmedInt64(std::string_view AText, int64_t ADefault);
// True when the whole text (untrimmed) is a 64-bit integer.
bool IsIntegerText(std::string_view AText);
inline bool IsDigitChar(char AChar) { return AChar >= '0' && AChar <= '9'; }
// True when the ALength characters from AIndex (-1: to the end; clipped) are all digits;
// false for an empty range.
bool AreAllDigits(std::string_view AText, int ALength = -1, int AIndex = 0);
// Accumulates each character's digit value base 8; non-digits count as 0.
int64_t OctalTextToInt64(std::string_view AText);

inline int32_t Min(int32_t A, int32_t B) { return A < B ? A : B; }
inline int32_t Max(int32_t A, int32_t B) { return A > B ? A : B; }
inline int64_t Min(int64_t A, int64_t B) { return A < B ? A : B; }
inline int64_t Max(int64_t A, int64_t B) { return A > B ? A : B; }

// The count of items after AOffset in something ALength long: never below 0, and limited to
// ACount when ACount is not negative.
int64_t UsableCount(int64_t ALength, int64_t AOffset, int64_t ACount = -1);
int UsableCount(const TBytes& ABytes, int AOffset, int ACount = -1);
int UsableCount(std::string_view AText, int AOffset, int ACount = -1);

// ---- Time ----------------------------------------------------------------------------------

// A 32-bit millisecond counter from a monotonic clock; wraps around about every 49.7 days.
uint32_t TickCountMs();
// Milliseconds from AOldTicks to ANewTicks; when the counter wrapped in between, one less than
// the modular difference (4294967295 - old + new).
uint32_t TickSpan(uint32_t AOldTicks, uint32_t ANewTicks);
// The local time zone's offset from UTC as a fraction of a day, positive east of UTC; raises
// EIdFailedToRetreiveTimeZoneInfo when the platform cannot say.
TDateTime UtcOffsetOfLocalTime();
// Whether the caller runs on the process's main thread.
bool InMainThread();
void SleepMs(uint32_t AMilliseconds);
// Makes a write to a connection that the peer closed fail with an error instead of ending the
// process with a signal (nothing to do where the platform has no such signal).
void IgnoreBrokenPipe();

// ---- Other text utilities ------------------------------------------------------------------

#ifdef _WIN32
inline constexpr char PathDelim = '\\';
#else
inline constexpr char PathDelim = '/';
#endif

std::string WithTrailingPathDelimiter(std::string_view APath);
// Replaces only the first occurrence of AOld (case-sensitive); an empty AOld changes nothing.
std::string ReplaceFirstOccurrence(std::string_view AText, std::string_view AOld,
                                   std::string_view ANew);
// Removes up to ACount characters from AIndex; an index past the end removes nothing.
void DeleteChars(std::string& VText, int AIndex, int ACount);
// Index within ASet of the character at ACharPos of AText; -1 when it is not in the set or
// ACharPos is past the end. A negative ACharPos raises EIdException "Invalid ACharPos".
int CharIndexInSet(std::string_view AText, int ACharPos, std::string_view ASet);
bool CharIsInSet(std::string_view AText, int ACharPos, std::string_view ASet);
bool CharIsAt(std::string_view AText, int ACharPos, char AChar);

inline int IfThen(bool ACondition, int ATrue, int AFalse) {
  return ACondition ? ATrue : AFalse;
}
inline std::string IfThen(bool ACondition, std::string_view ATrue, std::string_view AFalse) {
  return std::string(ACondition ? ATrue : AFalse);
}

// ---- Byte arrays ---------------------------------------------------------------------------
//
// Positions are 0-based. Every copy checks that the source holds the bytes asked for and that
// the destination has room for them; a violation is a programming error (EIdAssertionFailure).
// Multi-byte values are stored and read in host order: callers convert to network order first.

// Copies ALength bytes; the runs may overlap when source and destination are one array.
void CopyBytes(const TBytes& ASource, int ASourceIndex, TBytes& VDest, int ADestIndex,
               int ALength);
void CopyWordToBytes(uint16_t ASource, TBytes& VDest, int ADestIndex);
void CopyLongWordToBytes(uint32_t ASource, TBytes& VDest, int ADestIndex);
void CopyInt64ToBytes(int64_t ASource, TBytes& VDest, int ADestIndex);
void CopyIPv6ToBytes(const TIdIPv6Address& ASource, TBytes& VDest, int ADestIndex);

uint16_t BytesToWord(const TBytes& AValue, int AIndex = 0);
uint32_t BytesToLongWord(const TBytes& AValue, int AIndex = 0);
int64_t BytesToInt64(const TBytes& AValue, int AIndex = 0);
TIdIPv6Address BytesToIPv6(const TBytes& AValue, int AIndex = 0);

TBytes ValueToBytes(uint8_t AValue);
TBytes ValueToBytes(uint16_t AValue);
TBytes ValueToBytes(uint32_t AValue);
TBytes ValueToBytes(int64_t AValue);

// A copy of ALength bytes from AOffset (ALength -1 means to the end; clipped to the array).
TBytes SliceBytes(const TBytes& ABytes, int ALength, int AOffset = 0);
// Sets the first ACount bytes to AValue.
void FillBytes(TBytes& VBytes, int ACount, uint8_t AValue);
// Two upper-case hexadecimal digits per byte for ACount bytes from AIndex (-1: to the end).
std::string BytesToHex(const TBytes& ABytes, int ACount = -1, int AIndex = 0);
// Eight upper-case hexadecimal digits, most significant first.
std::string LongWordToHex(uint32_t AValue);

} // namespace ftpc

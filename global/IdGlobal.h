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

#include "core/IdException.h"

namespace ftpc {

using TBytes = std::vector<uint8_t>;

// Days since 1899-12-30; the fraction is the time of day; 0 means "no time".
using TDateTime = double;

enum TIdIPVersion : uint8_t { Id_IPv4, Id_IPv6 };

// An IPv6 address as eight 16-bit words, the first group first, each word in host order.
using TIdIPv6Address = std::array<uint16_t, 8>;

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

} // namespace ftpc

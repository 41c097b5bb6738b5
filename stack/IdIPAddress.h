// IPv4 and IPv6 address text forms: canonical IPv6 text, lenient IPv4 reading, and the
// parsed-address object that turns address text into network-order bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/IdException.h"
#include "global/IdGlobal.h"

namespace ftpc {

FTPC_DECLARE_EXCEPTION(EIdInvalidIPv6Address, EIdException);

// The canonical form of any IPv6 text: eight upper-case hexadecimal groups without leading
// zeros and without "::", a dotted IPv4 tail written as two four-digit groups. Empty text
// when AAddr is not an IPv6 address. Without a "::" fewer than eight groups pass unchanged.
std::string CanonicalIPv6Text(std::string_view AAddr);

// Fills VAddress (host-order words) from IPv6 text; missing trailing groups become 0.
// VErr is true when the text is not an IPv6 address (VAddress is then left alone).
void IPv6TextToWords(std::string_view AAddr, TIdIPv6Address& VAddress, bool& VErr);

// As IPv6TextToWords, but raises EIdInvalidIPv6Address for text that is not IPv6.
void IPv6TextToAddress(std::string_view AAddr, TIdIPv6Address& VAddress);

// Reads IPv4 text the lenient classic way: parts may be decimal, octal ("0" prefix) or
// hexadecimal ("0x" prefix); a last part fills every remaining byte ("10.1" is 10.0.0.1).
// Returns the host-order value; VErr is true when a part is not a number.
uint32_t IPv4TextToNumber(std::string_view AAddr, bool& VErr);

// The RFC 5952 text of an IPv6 address: lower-case groups without leading zeros, the longest
// run of two or more zero groups (the first of equal runs) written as "::" ("::1"). Empty when
// AAddr is not IPv6 text. Peers that compare address texts expect this form.
std::string CompressedIPv6Text(std::string_view AAddr);

// Eight groups of exactly four upper-case hexadecimal digits joined by ":".
std::string IPv6WordsToText(const TIdIPv6Address& AAddress);

// A parsed IPv4 or IPv6 address.
class TIdIPAddress : public TObject {
public:
  TIdIPAddress() = default;

  // An object for the text, trying IPv6 first and then IPv4; null when neither parses.
  static std::unique_ptr<TIdIPAddress> MakeAddressObject(std::string_view AIP);
  // An object for the text read as AIPVersion only; null when it does not parse.
  static std::unique_ptr<TIdIPAddress> MakeAddressObject(std::string_view AIP,
                                                         TIdIPVersion AIPVersion);

  // 1, 0 or -1 as this address is greater than, equal to or smaller than AIP (unsigned
  // comparison). VErr is true, and the result 0, when AIP does not parse or is of the
  // other version.
  int CompareAddress(std::string_view AIP, bool& VErr) const;

  // 4 bytes for IPv4, 16 for IPv6, in network order.
  TBytes HToNBytes() const;

  uint32_t IPv4() const { return FIPv4; }
  void SetIPv4(uint32_t AValue) { FIPv4 = AValue; }
  TIdIPVersion AddrType() const { return FAddrType; }
  void SetAddrType(TIdIPVersion AValue) { FAddrType = AValue; }

  std::string IPv4AsString() const; // dotted decimal; empty for an IPv6 object
  std::string IPv6AsString() const; // eight four-digit groups; empty for an IPv4 object
  std::string IPAsString() const;

  std::string ClassName() const override { return "TIdIPAddress"; }

  TIdIPv6Address IPv6{}; // host-order words

private:
  uint32_t FIPv4 = 0;
  TIdIPVersion FAddrType = Id_IPv4;
};

} // namespace ftpc

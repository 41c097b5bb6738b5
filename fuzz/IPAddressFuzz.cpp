// Address texts as a server announces them (EPRT/EPSV hosts, PASV numbers, resolver results):
// the canonical IPv6 form is stable, and every parse either yields an address whose text
// parses back to it or reports an error.
#include <string>

#include "FuzzInput.h"
#include "stack/IdIPAddress.h"

namespace {

using namespace ftpc;

TIdIPv6Address WordsOf(std::string_view AText) {
  TIdIPv6Address words{};
  bool error = false;
  IPv6TextToWords(AText, words, error);
  fuzz::Require(!error);
  return words;
}

// Every form of an IPv6 text names the same address, and the canonical form of the canonical
// form is stable (a dotted tail is written once as four-digit groups, then kept).
void CheckIPv6(std::string_view AText) {
  const std::string canonical = CanonicalIPv6Text(AText);
  if (canonical.empty()) {
    return;
  }
  const std::string again = CanonicalIPv6Text(canonical);
  fuzz::Require(CanonicalIPv6Text(again) == again);
  const TIdIPv6Address words = WordsOf(AText);
  fuzz::Require(WordsOf(canonical) == words && WordsOf(again) == words);
  const std::string compressed = CompressedIPv6Text(AText);
  fuzz::Require(!compressed.empty() && WordsOf(compressed) == words);
  fuzz::Require(WordsOf(IPv6WordsToText(words)) == words);
}

void CheckAddressObject(std::string_view AText, std::string_view AOther) {
  for (const auto& address :
       {TIdIPAddress::MakeAddressObject(AText), TIdIPAddress::MakeAddressObject(AText, Id_IPv4),
        TIdIPAddress::MakeAddressObject(AText, Id_IPv6)}) {
    if (address == nullptr) {
      continue;
    }
    const std::string text = address->IPAsString();
    const auto again = TIdIPAddress::MakeAddressObject(text, address->AddrType());
    fuzz::Require(again != nullptr && again->HToNBytes() == address->HToNBytes());
    bool error = false;
    fuzz::Require(address->CompareAddress(text, error) == 0 && !error);
    (void)address->CompareAddress(AOther, error);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  fuzz::TFuzzInput input(AData, ASize);
  const std::string_view text = input.TakeText();
  CheckIPv6(text);
  bool error = false;
  (void)IPv4TextToNumber(text, error);
  CheckAddressObject(text, input.Rest());
  return 0;
}

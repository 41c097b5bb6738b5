// A server's reply to USER, as the login hands it to the one-time-password calculator: the
// only errors are an unknown method, a count that is no number or too large, and an answer
// is always six dictionary words.
#include <algorithm>
#include <string>

#include "FuzzInput.h"
#include "hash/IdOTPCalculator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  using namespace ftpc;
  fuzz::TFuzzInput input(AData, ASize);
  const std::string_view password = input.TakeText();
  const std::string_view reply = input.Rest();
  const bool valid = TIdOTPCalculator::IsValidOTPString(reply);
  std::string key;
  try {
    if (TIdOTPCalculator::GenerateSixWordKey(reply, password, key)) {
      fuzz::Require(valid && std::count(key.begin(), key.end(), ' ') == 5);
    } else {
      fuzz::Require(!valid && key.empty());
    }
  } catch (const EIdOTPError&) {
  } catch (const EIdConvertError&) {
  }
  return 0;
}

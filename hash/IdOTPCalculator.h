// One-time passwords (RFC 2289): keys from a seed, a pass phrase and a count with MD4, MD5 or
// SHA-1, written as hexadecimal or as six dictionary words; the answer to an "otp-" challenge.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/IdException.h"

namespace ftpc {

FTPC_DECLARE_EXCEPTION(EIdOTPError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdOTPUnknownMethod, EIdOTPError);
FTPC_DECLARE_EXCEPTION(EIdOTPCountTooLarge, EIdOTPError);

class TIdOTPCalculator : public TObject {
public:
  static constexpr uint32_t DictionarySize = 2048;
  // The largest sequence count a challenge may ask for. Real sequences start in the hundreds
  // and count down; each step costs one hash, so a server must not choose billions of them.
  static constexpr int32_t MaxChallengeCount = 10000;

  // The key after ACount further hashing steps of (lower-case seed + pass phrase), folded
  // to 64 bits after each step. A count of 0 (or less) gives the first folded key.
  static uint64_t GenerateKeyMD4(std::string_view ASeed, std::string_view APassword,
                                 int32_t ACount);
  static uint64_t GenerateKeyMD5(std::string_view ASeed, std::string_view APassword,
                                 int32_t ACount);
  static uint64_t GenerateKeySHA1(std::string_view ASeed, std::string_view APassword,
                                  int32_t ACount);

  // Sixteen upper-case hexadecimal digits, leading zeros kept.
  static std::string ToHex(uint64_t AKey);
  // Six dictionary words separated by single spaces; the sixth carries a two-bit checksum.
  static std::string ToSixWordFormat(uint64_t AKey);

  // AMethod is "md4", "md5" or "sha1" exactly; anything else raises EIdOTPUnknownMethod.
  static std::string GenerateSixWordKey(std::string_view AMethod, std::string_view ASeed,
                                        std::string_view APassword, int32_t ACount);
  // Answers the first "otp-<method> <count> <seed>" challenge in AStr. Without one, VKey is
  // empty and the result false. A count that is not a number raises EIdConvertError, one
  // above MaxChallengeCount EIdOTPCountTooLarge.
  static bool GenerateSixWordKey(std::string_view AStr, std::string_view APassword,
                                 std::string& VKey);
  // True when AStr holds "otp-" followed by a known method name.
  static bool IsValidOTPString(std::string_view AStr);

  // The RFC 2289 dictionary word with the given index (0 to 2047).
  static std::string_view DictionaryWord(uint32_t AIndex);

  std::string ClassName() const override { return "TIdOTPCalculator"; }
};

} // namespace ftpc

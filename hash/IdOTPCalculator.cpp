#include "hash/IdOTPCalculator.h"

#include "base/IdResourceStrings.h"
#include "global/IdGlobal.h"
#include "hash/IdHashMessageDigest.h"
#include "hash/IdHashSHA1.h"

namespace ftpc {

namespace {

constexpr std::string_view kChallengeMarker = "otp-";
constexpr int kWordBits = 11;
constexpr uint32_t kWordMask = (1U << kWordBits) - 1;

using TFold = uint64_t (*)(const TBytes& ADigest);

// Both folds get digests of their own hash class: 16 bytes for MD4 and MD5, 20 for SHA-1.

// MD4 and MD5: the first eight digest bytes xored with the last eight, read big-endian.
uint64_t FoldMessageDigest(const TBytes& ADigest) {
  uint64_t key = 0;
  for (size_t i = 0; i < 8; ++i) {
    key = key << 8 | static_cast<uint8_t>(ADigest[i] ^ ADigest[i + 8]);
  }
  return key;
}

// SHA-1: five words read least significant byte first; words 1, 3 and 5 xored make the upper
// half of the key, words 2 and 4 the lower half (RFC 2289 appendix A).
uint64_t FoldSHA1(const TBytes& ADigest) {
  uint32_t words[5];
  for (size_t i = 0; i < 5; ++i) {
    words[i] = detail::LoadLE32(ADigest.data() + 4 * i);
  }
  return static_cast<uint64_t>(words[0] ^ words[2] ^ words[4]) << 32 | (words[1] ^ words[3]);
}

TBytes KeyBytes(uint64_t AKey) {
  TBytes bytes(8);
  for (size_t i = 0; i < 8; ++i) {
    bytes[i] = static_cast<uint8_t>(AKey >> (56 - 8 * i));
  }
  return bytes;
}

uint64_t GenerateKey(TIdHash& AHash, TFold AFold, std::string_view ASeed,
                     std::string_view APassword, int32_t ACount) {
  uint64_t key = AFold(AHash.HashString(LowerCase(ASeed) + std::string(APassword)));
  for (int32_t i = 0; i < ACount; ++i) {
    key = AFold(AHash.HashBytes(KeyBytes(key)));
  }
  return key;
}

// Parts of a challenge end at a space; a line break or tab ends them too, so that a challenge
// at the end of one line of a multi-line reply does not take the next line into its seed.
bool IsSeparator(char AChar) {
  return AChar == ' ' || AChar == '\t' || AChar == '\r' || AChar == '\n';
}

// Returns the text up to the first separator and drops it, and that separator, from VText.
std::string_view CutPart(std::string_view& VText) {
  size_t end = 0;
  while (end < VText.size() && !IsSeparator(VText[end])) {
    ++end;
  }
  const std::string_view part = VText.substr(0, end);
  VText.remove_prefix(end < VText.size() ? end + 1 : end);
  return part;
}

// The text after the first "otp-", or nothing when there is none.
bool FindChallenge(std::string_view AStr, std::string_view& VRest) {
  const size_t at = AStr.find(kChallengeMarker);
  if (at == std::string_view::npos) {
    return false;
  }
  VRest = AStr.substr(at + kChallengeMarker.size());
  return true;
}

bool IsKnownMethod(std::string_view AMethod) {
  return AMethod == "md4" || AMethod == "md5" || AMethod == "sha1";
}

} // namespace

uint64_t TIdOTPCalculator::GenerateKeyMD4(std::string_view ASeed, std::string_view APassword,
                                          int32_t ACount) {
  TIdHashMessageDigest4 hash;
  return GenerateKey(hash, FoldMessageDigest, ASeed, APassword, ACount);
}

uint64_t TIdOTPCalculator::GenerateKeyMD5(std::string_view ASeed, std::string_view APassword,
                                          int32_t ACount) {
  TIdHashMessageDigest5 hash;
  return GenerateKey(hash, FoldMessageDigest, ASeed, APassword, ACount);
}

uint64_t TIdOTPCalculator::GenerateKeySHA1(std::string_view ASeed, std::string_view APassword,
                                           int32_t ACount) {
  TIdHashSHA1 hash;
  return GenerateKey(hash, FoldSHA1, ASeed, APassword, ACount);
}

std::string TIdOTPCalculator::ToHex(uint64_t AKey) {
  return BytesToHex(KeyBytes(AKey));
}

std::string TIdOTPCalculator::ToSixWordFormat(uint64_t AKey) {
  uint32_t checksum = 0;
  for (int shift = 0; shift < 64; shift += 2) {
    checksum += static_cast<uint32_t>(AKey >> shift) & 3U;
  }
  std::string words;
  // Words 1 to 5 take bits 0-10, 11-21, ... 44-54 counted from the most significant end.
  for (int word = 0; word < 5; ++word) {
    const int shift = 64 - kWordBits * (word + 1);
    words += DictionaryWord(static_cast<uint32_t>(AKey >> shift) & kWordMask);
    words += ' ';
  }
  // Word 6: the last nine bits followed by the two checksum bits.
  words += DictionaryWord(((static_cast<uint32_t>(AKey) & 0x1FFU) << 2) | (checksum & 3U));
  return words;
}

std::string TIdOTPCalculator::GenerateSixWordKey(std::string_view AMethod, std::string_view ASeed,
                                                 std::string_view APassword, int32_t ACount) {
  if (AMethod == "md4") {
    return ToSixWordFormat(GenerateKeyMD4(ASeed, APassword, ACount));
  }
  if (AMethod == "md5") {
    return ToSixWordFormat(GenerateKeyMD5(ASeed, APassword, ACount));
  }
  if (AMethod == "sha1") {
    return ToSixWordFormat(GenerateKeySHA1(ASeed, APassword, ACount));
  }
  throw EIdOTPUnknownMethod(std::string(RSOTPUnknownMethod));
}

bool TIdOTPCalculator::GenerateSixWordKey(std::string_view AStr, std::string_view APassword,
                                          std::string& VKey) {
  VKey.clear();
  std::string_view rest;
  if (!FindChallenge(AStr, rest)) {
    return false;
  }
  const std::string_view method = CutPart(rest);
  const int32_t count = ParseTrimmedInt(CutPart(rest));
  if (count > MaxChallengeCount) {
    throw EIdOTPCountTooLarge(std::string(RSOTPCountTooLarge));
  }
  const std::string_view seed = CutPart(rest);
  VKey = GenerateSixWordKey(method, seed, APassword, count);
  return true;
}

bool TIdOTPCalculator::IsValidOTPString(std::string_view AStr) {
  std::string_view rest;
  return FindChallenge(AStr, rest) && IsKnownMethod(CutPart(rest));
}

} // namespace ftpc

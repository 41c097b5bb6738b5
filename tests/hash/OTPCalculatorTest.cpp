// One-time passwords: the RFC 2289 test vectors, the dictionary and challenge parsing.
#include <gtest/gtest.h>

#include <string>

#include "hash/IdHashCRC.h"
#include "hash/IdOTPCalculator.h"

namespace ftpc {
namespace {

struct TOTPVector {
  const char* Method;
  int32_t Count;
  uint64_t Key;
  const char* Words;
};

// RFC 2289 appendix C: pass phrase "This is a test." and seed "TeSt" throughout.
constexpr TOTPVector kVectors[] = {
    {"md4", 0, 0xD1854218EBBB0B51ULL, "ROME MUG FRED SCAN LIVE LACE"},
    {"md4", 1, 0x63473EF01CD0B444ULL, "CARD SAD MINI RYE COL KIN"},
    {"md4", 99, 0xC5E612776E6C237AULL, "NOTE OUT IBIS SINK NAVE MODE"},
    {"md5", 0, 0x9E876134D90499DDULL, "INCH SEA ANNE LONG AHEM TOUR"},
    {"md5", 1, 0x7965E05436F5029FULL, "EASE OIL FUM CURE AWRY AVIS"},
    {"md5", 99, 0x50FE1962C4965880ULL, "BAIL TUFT BITS GANG CHEF THY"},
    {"sha1", 0, 0xBB9E6AE1979D8FF4ULL, "MILT VARY MAST OK SEES WENT"},
    {"sha1", 1, 0x63D936639734385BULL, "CART OTTO HIVE ODE VAT NUT"},
    {"sha1", 99, 0x87FEC7768B73CCF9ULL, "GAFF WAIT SKID GIG SKY EYED"},
};
constexpr const char* kPassPhrase = "This is a test.";
constexpr const char* kSeed = "TeSt";

uint64_t GenerateKey(const std::string& AMethod, const char* ASeed, int32_t ACount) {
  if (AMethod == "md4") {
    return TIdOTPCalculator::GenerateKeyMD4(ASeed, kPassPhrase, ACount);
  }
  if (AMethod == "md5") {
    return TIdOTPCalculator::GenerateKeyMD5(ASeed, kPassPhrase, ACount);
  }
  return TIdOTPCalculator::GenerateKeySHA1(ASeed, kPassPhrase, ACount);
}

TEST(OTPCalculator, RfcVectorsGiveTheirKeysAndWords) {
  for (const TOTPVector& vector : kVectors) {
    SCOPED_TRACE(std::string(vector.Method) + " count " + std::to_string(vector.Count));
    EXPECT_EQ(GenerateKey(vector.Method, kSeed, vector.Count), vector.Key);
    EXPECT_EQ(TIdOTPCalculator::ToSixWordFormat(vector.Key), vector.Words);
    EXPECT_EQ(TIdOTPCalculator::GenerateSixWordKey(vector.Method, kSeed, kPassPhrase, vector.Count),
              vector.Words);
    // The seed is case-insensitive: it is lowered before hashing.
    EXPECT_EQ(GenerateKey(vector.Method, "test", vector.Count), vector.Key);
  }
}

TEST(OTPCalculator, ChallengeInReplyTextIsAnswered) {
  for (const TOTPVector& vector : kVectors) {
    const std::string challenge = "331 Response to otp-" + std::string(vector.Method) + " " +
                                  std::to_string(vector.Count) + " TeSt ext required";
    SCOPED_TRACE(challenge);
    std::string key = "stale";
    EXPECT_TRUE(TIdOTPCalculator::IsValidOTPString(challenge));
    EXPECT_TRUE(TIdOTPCalculator::GenerateSixWordKey(challenge, kPassPhrase, key));
    EXPECT_EQ(key, vector.Words);
  }
}

TEST(OTPCalculator, ChallengeRecognition) {
  struct TCase {
    const char* Text;
    bool Valid;
  };
  const TCase cases[] = {
      {"otp-md5 499 ke1234 ext", true},
      {"otp-sha1 5 seed", true},
      {"otp-md4", true},
      {"OTP-MD5 499 ke1234", false}, // letter case counts
      {"otp-md6 499 ke1234", false},
      {"otp-md5x 1 s", false},
      {"otp-", false},
      {"password required", false},
      {"", false},
  };
  for (const TCase& item : cases) {
    SCOPED_TRACE(item.Text);
    EXPECT_EQ(TIdOTPCalculator::IsValidOTPString(item.Text), item.Valid);
  }
}

TEST(OTPCalculator, ChallengeWithoutMarkerGivesFalseAndEmptyKey) {
  std::string key = "stale";
  EXPECT_FALSE(TIdOTPCalculator::GenerateSixWordKey("OTP-MD5 499 ke1234", "pw", key));
  EXPECT_EQ(key, "");
}

TEST(OTPCalculator, ChallengeParsing) {
  const std::string expected = TIdOTPCalculator::GenerateSixWordKey("md5", "ke1234", "pw", 499);
  const char* equivalent[] = {
      "otp-md5 499 ke1234",
      "otp-md5 499 ke1234 ext",
      "331 otp-md5 499 ke1234",
      // A challenge ending a line of a multi-line reply: the seed stops at the line break.
      "331-otp-md5 499 ke1234\r\n331 Password required",
      "otp-md5 499 KE1234",
  };
  for (const char* text : equivalent) {
    SCOPED_TRACE(text);
    std::string key;
    EXPECT_TRUE(TIdOTPCalculator::GenerateSixWordKey(text, "pw", key));
    EXPECT_EQ(key, expected);
  }
}

TEST(OTPCalculator, BadChallengesRaise) {
  std::string key;
  EXPECT_THROW(TIdOTPCalculator::GenerateSixWordKey("otp-md5 4x9 ke1234", "pw", key),
               EIdConvertError);
  EXPECT_THROW(TIdOTPCalculator::GenerateSixWordKey("otp-md5 99999999999 seed", "pw", key),
               EIdConvertError);
  EXPECT_THROW(TIdOTPCalculator::GenerateSixWordKey("otp-md5", "pw", key), EIdConvertError);
  try {
    TIdOTPCalculator::GenerateSixWordKey("otp-md6 499 ke1234", "pw", key);
    FAIL() << "md6 was accepted";
  } catch (const EIdOTPUnknownMethod& error) {
    EXPECT_STREQ(error.what(), "Unknown OTP method");
    EXPECT_EQ(error.ClassName(), "EIdOTPUnknownMethod");
  }
  EXPECT_THROW(TIdOTPCalculator::GenerateSixWordKey("MD5", "s", "pw", 1), EIdOTPError);
}

// A server must not make the client hash for minutes before it sends its password.
TEST(OTPCalculator, ChallengeCountAboveTheBoundIsRefused) {
  std::string key;
  const int32_t bound = TIdOTPCalculator::MaxChallengeCount;
  const std::string atBound = "otp-sha1 " + std::to_string(bound) + " seed";
  EXPECT_TRUE(TIdOTPCalculator::GenerateSixWordKey(atBound, "pw", key));
  // ASSERT: should the bound not hold, the test stops before the costly count.
  for (const std::string& above : {std::to_string(bound + 1), std::string("2147483647")}) {
    ASSERT_THROW(TIdOTPCalculator::GenerateSixWordKey("otp-md5 " + above + " seed", "pw", key),
                 EIdOTPCountTooLarge);
    EXPECT_TRUE(key.empty());
  }
}

TEST(OTPCalculator, ConversionErrorQuotesTheText) {
  std::string key;
  try {
    TIdOTPCalculator::GenerateSixWordKey("otp-md5 4x9 ke1234", "pw", key);
    FAIL() << "4x9 was accepted";
  } catch (const EIdConvertError& error) {
    EXPECT_STREQ(error.what(), "'4x9' is not a valid integer value");
  }
}

TEST(OTPCalculator, HexKeepsLeadingZeros) {
  EXPECT_EQ(TIdOTPCalculator::ToHex(0x00A1B2C3D4E5F607ULL), "00A1B2C3D4E5F607");
  EXPECT_EQ(TIdOTPCalculator::ToHex(0), "0000000000000000");
  EXPECT_EQ(TIdOTPCalculator::ToHex(0xD1854218EBBB0B51ULL), "D1854218EBBB0B51");
}

TEST(OTPCalculator, SixWordsCoverEveryBitAndTheChecksum) {
  // All zeros: word 0 five times, checksum 0. All ones: word 2047 five times, and the last
  // nine bits (511 << 2 = 2044) plus the checksum (32 * 3 mod 4 = 0).
  EXPECT_EQ(TIdOTPCalculator::ToSixWordFormat(0), "A A A A A A");
  EXPECT_EQ(TIdOTPCalculator::ToSixWordFormat(~0ULL), "YOKE YOKE YOKE YOKE YOKE YEAR");
  // Lowest bit alone: last nine bits 1 -> index 4, one two-bit group of 1 -> checksum 1.
  EXPECT_EQ(TIdOTPCalculator::ToSixWordFormat(1),
            "A A A A A " + std::string(TIdOTPCalculator::DictionaryWord(5)));
  // Highest bit alone: word 1 is index 1024, checksum 2 (group value 2) -> word 6 index 2.
  EXPECT_EQ(TIdOTPCalculator::ToSixWordFormat(1ULL << 63),
            std::string(TIdOTPCalculator::DictionaryWord(1024)) + " A A A A " +
                std::string(TIdOTPCalculator::DictionaryWord(2)));
}

TEST(OTPCalculator, DictionaryHoldsTheRfcWordsInOrder) {
  // Short words (one to three letters) come first, then four-letter words, each group in
  // alphabetical order.
  std::string joined;
  for (uint32_t i = 0; i < TIdOTPCalculator::DictionarySize; ++i) {
    const std::string_view word = TIdOTPCalculator::DictionaryWord(i);
    ASSERT_FALSE(word.empty());
    if (i > 0) {
      const std::string_view previous = TIdOTPCalculator::DictionaryWord(i - 1);
      const bool sameGroup = (previous.size() == 4) == (word.size() == 4);
      EXPECT_TRUE(sameGroup ? previous < word : word.size() == 4) << previous << " " << word;
    }
    joined += word;
    joined += '\n';
  }
  EXPECT_EQ(TIdOTPCalculator::DictionaryWord(0), "A");
  EXPECT_EQ(TIdOTPCalculator::DictionaryWord(570), "YOU");
  EXPECT_EQ(TIdOTPCalculator::DictionaryWord(571), "ABED");
  EXPECT_EQ(TIdOTPCalculator::DictionaryWord(2047), "YOKE");
  EXPECT_THROW(TIdOTPCalculator::DictionaryWord(2048), std::out_of_range);
  // The checksum of the whole list (one word a line) pins every position.
  EXPECT_EQ(TIdHashCRC32().HashValue(joined), 0xB2105200U);
}

} // namespace
} // namespace ftpc

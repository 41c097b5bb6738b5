// The published test suites of CRC-32, MD4, MD5 and SHA-1, through every input form.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "global/IdStream.h"
#include "hash/IdHashCRC.h"
#include "hash/IdHashMessageDigest.h"
#include "hash/IdHashSHA1.h"

namespace ftpc {
namespace {

std::unique_ptr<TIdHash> MakeHash(const std::string& AName) {
  if (AName == "CRC32") {
    return std::make_unique<TIdHashCRC32>();
  }
  if (AName == "MD4") {
    return std::make_unique<TIdHashMessageDigest4>();
  }
  if (AName == "MD5") {
    return std::make_unique<TIdHashMessageDigest5>();
  }
  return std::make_unique<TIdHashSHA1>();
}

const std::string kDigits =
    "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

struct TSuite {
  const char* Name;
  std::vector<std::pair<std::string, std::string>> Vectors;
};

// RFC 1320 and RFC 1321 appendix A.5, FIPS 180-1 appendices A and B, and the usual CRC-32
// check values.
const std::vector<TSuite>& Suites() {
  static const std::vector<TSuite> suites = {
      {"CRC32",
       {{"", "00000000"},
        {"123456789", "CBF43926"},
        {"The quick brown fox jumps over the lazy dog", "414FA339"},
        {"a", "E8B7BE43"}}},
      {"MD4",
       {{"", "31D6CFE0D16AE931B73C59D7E0C089C0"},
        {"a", "BDE52CB31DE33E46245E05FBDBD6FB24"},
        {"abc", "A448017AAF21D8525FC10AE87AA6729D"},
        {"message digest", "D9130A8164549FE818874806E1C7014B"},
        {"abcdefghijklmnopqrstuvwxyz", "D79E1C308AA5BBCDEEA8ED63DF412DA9"},
        {kAlnum, "043F8582F241DB351CE627E153E7F0E4"},
        {kDigits, "E33B4DDC9C38F2199C3E7B164FCC0536"}}},
      {"MD5",
       {{"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {kAlnum, "D174AB98D277D9F5A5611C2C9F419D9F"},
        {kDigits, "57EDF4A22BE3C955AC49DA2E2107B67A"},
        {std::string(1000000, 'a'), "7707D6AE4E027C70EEA2A935C2296F21"}}},
      {"SHA1",
       {{"", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {"abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {std::string(1000000, 'a'), "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"}}},
  };
  return suites;
}

TEST(HashVectors, EveryDigestMatchesItsPublishedSuite) {
  for (const bool accelerated : {true, false}) {
    SetHashAccelerationEnabled(accelerated);
    for (const TSuite& suite : Suites()) {
      auto hash = MakeHash(suite.Name);
      for (const auto& [input, expected] : suite.Vectors) {
        SCOPED_TRACE(std::string(suite.Name) + " of " + std::to_string(input.size()) +
                     " bytes, accelerated " + std::to_string(accelerated));
        EXPECT_EQ(hash->HashStringAsHex(input), expected);
        const TBytes bytes(input.begin(), input.end());
        EXPECT_EQ(hash->HashBytesAsHex(bytes), expected);
        TMemoryStream stream;
        stream.WriteBuffer(input.data(), static_cast<int64_t>(input.size()));
        stream.SetPosition(0);
        EXPECT_EQ(hash->HashStreamAsHex(stream), expected);
      }
    }
  }
  SetHashAccelerationEnabled(true);
}

TEST(HashVectors, Crc32DigestIsValueLeastSignificantByteFirst) {
  TIdHashCRC32 crc;
  EXPECT_EQ(crc.HashString("123456789"), (TBytes{0x26, 0x39, 0xF4, 0xCB}));
  EXPECT_EQ(crc.HashValue(std::string_view("123456789")), 0xCBF43926U);
  // Leading zeros stay in the text form.
  EXPECT_EQ(crc.HashBytesAsHex(TBytes{0x00, 0x00, 0x00, 0x00}).size(), 8U);
}

TEST(HashVectors, TextIsEncodedBeforeHashing) {
  TIdHashMessageDigest5 md5;
  // US-ASCII (the default) turns the e-acute into '?'; UTF-8 keeps its two bytes.
  EXPECT_EQ(md5.HashStringAsHex("\xC3\xA9"), md5.HashStringAsHex("?"));
  EXPECT_EQ(md5.HashStringAsHex("\xC3\xA9", UTF8Encoding()),
            md5.HashBytesAsHex(TBytes{0xC3, 0xA9}));
  EXPECT_EQ(md5.HashStringAsHex("\xC3\xA9", Latin1Encoding()), md5.HashBytesAsHex(TBytes{0xE9}));
}

TEST(HashVectors, ClassNamesAreTheMostDerived) {
  EXPECT_EQ(TIdHashCRC32().ClassName(), "TIdHashCRC32");
  EXPECT_EQ(TIdHashMessageDigest4().ClassName(), "TIdHashMessageDigest4");
  EXPECT_EQ(TIdHashMessageDigest5().ClassName(), "TIdHashMessageDigest5");
  EXPECT_EQ(TIdHashSHA1().ClassName(), "TIdHashSHA1");
}

} // namespace
} // namespace ftpc

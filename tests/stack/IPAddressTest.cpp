#include <gtest/gtest.h>

#include "stack/IdIPAddress.h"

namespace ftpc {
namespace {

struct TextCase {
  const char* Input;
  const char* Expected;
};

TEST(CanonicalIPv6Text, WritesEveryAcceptedFormInCanonicalForm) {
  const TextCase cases[] = {
      {"::1", "0:0:0:0:0:0:0:1"},
      {"::", "0:0:0:0:0:0:0:0"},
      {"1::", "1:0:0:0:0:0:0:0"},
      {"fe80::0a01", "FE80:0:0:0:0:0:0:A01"},
      {"2001:db8:0:0:1:0:0:1", "2001:DB8:0:0:1:0:0:1"},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
      {"1:2:3::8", "1:2:3:0:0:0:0:8"},
      {"0000:0000::00FF", "0:0:0:0:0:0:0:FF"},
      // Without "::" fewer than eight groups are kept as they stand.
      {"1:2:3", "1:2:3"},
      // Dotted tails become two groups of exactly four digits.
      {"::ffff:192.168.1.2", "0:0:0:0:0:FFFF:C0A8:0102"},
      {"::1.2.3.4", "0:0:0:0:0:0:0102:0304"},
      {"1:2:3:4:5:6:7.8.9.10", "1:2:3:4:5:6:0708:090A"},
      // Only three characters of the last dotted part are read.
      {"::1.2.3.0255", "0:0:0:0:0:0:0102:0319"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CanonicalIPv6Text(c.Input), c.Expected) << c.Input;
  }
}

TEST(CompressedIPv6Text, WritesTheRfc5952Form) {
  const TextCase cases[] = {
      {"0:0:0:0:0:0:0:1", "::1"},
      {"0:0:0:0:0:0:0:0", "::"},
      {"1:0:0:0:0:0:0:0", "1::"},
      {"FE80:0000:0:0:0:0:0:0A01", "fe80::a01"},
      // Equal runs: the first is shortened; a single zero group stays.
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
      // A longer later run wins.
      {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8"},
      {"::ffff:127.0.0.1", "::ffff:7f00:1"},
      {"127.0.0.1", ""},
      {"1::2::3", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompressedIPv6Text(c.Input), c.Expected) << c.Input;
  }
}

TEST(CanonicalIPv6Text, RejectsTextThatIsNoIPv6Address) {
  const char* const rejected[] = {
      "",
      "1::2::3",               // two "::"
      "1.2.3.4",               // no colon
      "1:2",                   // one colon
      "12345::1",              // group above FFFF
      "1::2:12345",            // last group above FFFF
      "::1.2.3.a",             // letter after a dot
      "1:2:3:4:5:6:7:8:9",     // eight colons
      "1::g",                  // not a hexadecimal digit
      "1:: 2",                 // blank
      "::1.2.3",               // two dots
      "::1.2.3.4.5",           // four dots
      "1.2.3.4::1",            // dotted part before a colon
      "1:2:3:4:5:6:7:1.2.3.4", // seven colons with a dotted tail
      "::256.1.1.1",           // dotted part above 255
      "::.1.2.3",              // empty dotted part
      ":::",                   // "::" twice after padding
      "99999999999999999999::1",
  };
  for (const char* text : rejected) {
    EXPECT_EQ(CanonicalIPv6Text(text), "") << text;
  }
}

TEST(IPv6TextToWords, FillsMissingTrailingGroupsWithZero) {
  TIdIPv6Address words{};
  bool err = true;
  IPv6TextToWords("1:2:3", words, err);
  EXPECT_FALSE(err);
  EXPECT_EQ(words, (TIdIPv6Address{1, 2, 3, 0, 0, 0, 0, 0}));

  IPv6TextToWords("::ffff:10.0.0.1", words, err);
  EXPECT_FALSE(err);
  EXPECT_EQ(words, (TIdIPv6Address{0, 0, 0, 0, 0, 0xFFFF, 0x0A00, 0x0001}));
}

TEST(IPv6TextToWords, ReportsBadTextAndLeavesTheWordsAlone) {
  TIdIPv6Address words{9, 9, 9, 9, 9, 9, 9, 9};
  bool err = false;
  IPv6TextToWords("1::2::3", words, err);
  EXPECT_TRUE(err);
  EXPECT_EQ(words[0], 9);
}

TEST(IPv6TextToAddress, RaisesWithTheTextInTheMessage) {
  TIdIPv6Address words{};
  try {
    IPv6TextToAddress("1.2.3.4", words);
    FAIL() << "no exception";
  } catch (const EIdInvalidIPv6Address& e) {
    EXPECT_STREQ(e.what(), "1.2.3.4 is not a valid IPv6 address");
  }
}

TEST(IPv4TextToNumber, ReadsTheLenientForms) {
  const struct {
    const char* Text;
    uint32_t Expected;
  } cases[] = {
      {"192.168.1.1", 0xC0A80101},
      {"", 0},
      {"10.1", 0x0A000001}, // the last part fills the remaining bytes
      {"10.1.2", 0x0A010002},
      {"3232235777", 0xC0A80101}, // one number is the whole address
      {"0x7f.1", 0x7F000001},
      {"0X7F.0.0.1", 0x7F000001},
      {"010.0.0.1", 0x08000001}, // octal
      {"08.0.0.1", 0x08000001},  // not octal: decimal
      {"0.0.0.0", 0},
      {"1.2.3.256", 0x01020300}, // a part wider than its byte is cut to it
      {"1.2.3.4.5", 0x02030405}, // extra parts shift the first bytes out
      {"0xFFFFFFFFFFFFFFFFFF", 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    bool err = true;
    EXPECT_EQ(IPv4TextToNumber(c.Text, err), c.Expected) << c.Text;
    EXPECT_FALSE(err) << c.Text;
  }
}

TEST(IPv4TextToNumber, ReportsPartsThatAreNoNumber) {
  const char* const rejected[] = {"1.x.2.3", "0x",       "0x1g.0.0.1",
                                  "a",       "1.2.3.4z", "99999999999999999999"};
  for (const char* text : rejected) {
    bool err = false;
    IPv4TextToNumber(text, err);
    EXPECT_TRUE(err) << text;
  }
}

TEST(IPv6WordsToText, WritesFourDigitGroups) {
  EXPECT_EQ(IPv6WordsToText({0xFE80, 0, 0, 0, 0x1, 0xA, 0xBC, 0xFFFF}),
            "FE80:0000:0000:0000:0001:000A:00BC:FFFF");
}

TEST(TIdIPAddress, MakesIPv4AndIPv6Objects) {
  const auto v4 = TIdIPAddress::MakeAddressObject("10.0.0.1");
  ASSERT_NE(v4, nullptr);
  EXPECT_EQ(v4->AddrType(), Id_IPv4);
  EXPECT_EQ(v4->IPv4AsString(), "10.0.0.1");
  EXPECT_EQ(v4->IPv6AsString(), "");
  EXPECT_EQ(v4->IPAsString(), "10.0.0.1");
  EXPECT_EQ(v4->HToNBytes(), (TBytes{10, 0, 0, 1}));

  const auto v6 = TIdIPAddress::MakeAddressObject("::1");
  ASSERT_NE(v6, nullptr);
  EXPECT_EQ(v6->AddrType(), Id_IPv6);
  EXPECT_EQ(v6->IPv6AsString(), "0000:0000:0000:0000:0000:0000:0000:0001");
  EXPECT_EQ(v6->IPv4AsString(), "");
  EXPECT_EQ(v6->IPAsString(), v6->IPv6AsString());
  TBytes expected(16, 0);
  expected[15] = 1;
  EXPECT_EQ(v6->HToNBytes(), expected);

  EXPECT_EQ(TIdIPAddress::MakeAddressObject("not an address"), nullptr);
  EXPECT_EQ(TIdIPAddress::MakeAddressObject("::1", Id_IPv4), nullptr);
  EXPECT_EQ(TIdIPAddress::MakeAddressObject("10.0.0.1", Id_IPv6), nullptr);
}

TEST(TIdIPAddress, ComparesAsUnsignedNumbersOfTheSameVersion) {
  const auto v4 = TIdIPAddress::MakeAddressObject("10.0.0.2");
  const auto high = TIdIPAddress::MakeAddressObject("200.0.0.1");
  const auto v6 = TIdIPAddress::MakeAddressObject("fe80::2");
  const struct {
    const TIdIPAddress* Object;
    const char* Other;
    int Expected;
    bool Err;
  } cases[] = {
      {v4.get(), "10.0.0.1", 1, false},
      {v4.get(), "10.0.0.3", -1, false},
      {v4.get(), "10.0.0.2", 0, false},
      {high.get(), "10.0.0.1", 1, false},
      {v4.get(), "::1", 0, true},
      {v4.get(), "garbage", 0, true},
      {v6.get(), "fe80::1", 1, false},
      {v6.get(), "ff00::", -1, false},
      {v6.get(), "FE80:0:0:0:0:0:0:2", 0, false},
  };
  for (const auto& c : cases) {
    bool err = !c.Err;
    EXPECT_EQ(c.Object->CompareAddress(c.Other, err), c.Expected) << c.Other;
    EXPECT_EQ(err, c.Err) << c.Other;
  }
}

} // namespace
} // namespace ftpc

// Random input into the integer parsers and the positional helpers: no out-of-bounds access
// or overflow (run under ASan/UBSan), and the integer parsers agree with a reference parser.
#include <gtest/gtest.h>

#include <charconv>
#include <optional>
#include <random>

#include "global/IdGlobal.h"

namespace ftpc {
namespace {

std::string RandomText(std::mt19937& ARandom, std::string_view AAlphabet, size_t AMaxLength) {
  std::uniform_int_distribution<size_t> length(0, AMaxLength);
  std::uniform_int_distribution<size_t> pick(0, AAlphabet.size() - 1);
  std::string text;
  for (size_t n = length(ARandom); n > 0; --n) {
    text.push_back(AAlphabet[pick(ARandom)]);
  }
  return text;
}

// The reference: an optional sign and digits, parsed by the standard library.
std::optional<int64_t> ReferenceInt64(std::string_view AText) {
  std::string_view digits = AText;
  if (!digits.empty() && digits.front() == '+') {
    digits.remove_prefix(1);
    if (!digits.empty() && digits.front() == '-') {
      return std::nullopt; // "+-1": one sign only
    }
  }
  int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return value;
}

TEST(IntegerParsersRobustness, AgreeWithReference) {
  std::mt19937 random(7);
  // Mostly digits, so long in-range and overflowing numbers both come up.
  constexpr std::string_view kAlphabet = "0123456789012345678998765432109+- \t\x01x\x80";
  for (int round = 0; round < 50000; ++round) {
    const std::string text = RandomText(random, kAlphabet, 22);
    const std::string trimmed = Trim(text);
    const std::optional<int64_t> expected = ReferenceInt64(trimmed);
    ASSERT_EQ(ParseTrimmedInt64(text, -1), expected.value_or(-1)) << text;
    ASSERT_EQ(IsIntegerText(trimmed), expected.has_value()) << text;
    const bool fits32 = expected && *expected >= INT32_MIN && *expected <= INT32_MAX;
    ASSERT_EQ(ParseTrimmedInt(text, -1), fits32 ? *expected : -1) << text;
    (void)OctalTextToInt64(text);
  }
  for (const std::string_view edge : {"9223372036854775807", "-9223372036854775808",
                                      "9223372036854775808", "-9223372036854775809",
                                      "2147483647", "-2147483648", "2147483648", "-2147483649"}) {
    const std::optional<int64_t> expected = ReferenceInt64(edge);
    EXPECT_EQ(ParseTrimmedInt64(edge, -1), expected.value_or(-1)) << edge;
  }
}

TEST(PositionalHelpersRobustness, RandomRangesStayInBounds) {
  std::mt19937 random(11);
  std::uniform_int_distribution<int> position(-2, 20);
  for (int round = 0; round < 20000; ++round) {
    const std::string text = RandomText(random, "ab.1\xC3\xA9 ", 12);
    const TBytes bytes(text.begin(), text.end());
    const int index = position(random);
    const int length = position(random);
    try {
      (void)TextToBytes(text, length, index, UTF8Encoding());
      (void)BytesToText(bytes, index, length, UTF8Encoding());
      (void)SliceBytes(bytes, length, index);
      (void)BytesToHex(bytes, length, index);
      (void)AreAllDigits(text, length, index);
      std::string copy = text;
      DeleteChars(copy, index, length);
      EXPECT_GE(index, 0) << "a negative position was accepted";
    } catch (const EIdAssertionFailure&) {
      EXPECT_LT(index, 0);
    }
    try {
      (void)CharIsInSet(text, index, ".");
      EXPECT_GE(index, 0);
    } catch (const EIdException&) {
      EXPECT_LT(index, 0);
    }
    std::string input = text;
    const std::string delim = RandomText(random, "a.\xC3", 2);
    const std::string token = CutToken(input, delim, true, round % 2 == 0);
    EXPECT_LE(token.size() + input.size(), text.size());
  }
}

TEST(PositionalHelpersRobustness, CopyBytesChecksBothRuns) {
  std::mt19937 random(13);
  std::uniform_int_distribution<int> position(-1, 10);
  for (int round = 0; round < 20000; ++round) {
    const TBytes source(static_cast<size_t>(position(random) + 1), 1);
    TBytes dest(static_cast<size_t>(position(random) + 1), 0);
    const int from = position(random);
    const int to = position(random);
    const int length = position(random);
    const bool fits = from >= 0 && to >= 0 && length >= 0 &&
                      from + length <= static_cast<int>(source.size()) &&
                      to + length <= static_cast<int>(dest.size());
    if (fits) {
      CopyBytes(source, from, dest, to, length);
    } else {
      EXPECT_THROW(CopyBytes(source, from, dest, to, length), EIdAssertionFailure);
    }
  }
}

} // namespace
} // namespace ftpc

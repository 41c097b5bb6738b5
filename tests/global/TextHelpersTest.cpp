#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <thread>

#include "global/IdGlobal.h"
#include "global/IdStream.h"

namespace ftpc {
namespace {

struct CutCase {
  std::string Input;
  std::string Delim;
  bool Delete;
  bool CaseSensitive;
  std::string Token;
  std::string Rest;
};

TEST(CutToken, CutsAtFirstDelimiter) {
  const CutCase cases[] = {
      {"a.b.c", ".", true, true, "a", "b.c"},
      {"abc", ".", true, true, "abc", ""},
      {"abc", ".", false, true, "abc", "abc"},
      {"a.b", ".", false, true, "a", "a.b"},
      {".abc", ".", true, true, "", "abc"},
      {"abc.", ".", true, true, "abc", ""},
      {"", ".", true, true, "", ""},
      {"abc", "", true, true, "abc", ""},
      {"127,0,0,1,4,51", ",", true, true, "127", "0,0,1,4,51"},
      {"key=:=value", "=:=", true, true, "key", "value"},
      // The case-insensitive search cuts from the input itself, keeping its letter case.
      {"HELLO world", "o W", true, false, "HELL", "orld"},
      {"HELLO world", "o W", true, true, "HELLO world", ""},
      {"size=10;Type=file;", "TYPE=", true, false, "size=10;", "file;"},
      // Bytes outside ASCII are compared exactly and keep their positions.
      {"caf\xC3\xA9.txt", ".", true, false, "caf\xC3\xA9", "txt"},
  };
  for (const CutCase& c : cases) {
    std::string input = c.Input;
    EXPECT_EQ(CutToken(input, c.Delim, c.Delete, c.CaseSensitive), c.Token) << c.Input;
    EXPECT_EQ(input, c.Rest) << c.Input;
  }
}

TEST(CutToken, IgnoreCaseFormMatchesCaseInsensitiveCut) {
  std::string input = "Features:End";
  EXPECT_EQ(CutTokenIgnoreCase(input, ":end"), "Features");
  EXPECT_EQ(input, "");
}

TEST(CutToken, RepeatedCutsSplitWords) {
  std::string input = "MLST type*;size*; modify";
  std::vector<std::string> words;
  while (!input.empty()) {
    words.push_back(CutToken(input, " "));
  }
  EXPECT_EQ(words, (std::vector<std::string>{"MLST", "type*;size*;", "modify"}));
}

struct PairCase {
  std::string A;
  std::string B;
  bool Expected;
};

TEST(TextTests, EqualsIgnoresAsciiCaseOnly) {
  const PairCase cases[] = {
      {"UTF8", "utf8", true},    {"", "", true},         {"MDTM", "MDT", false},
      {"a", "B", false},         {"\xC3\xA9", "\xC3\x89", false}, // é vs É: bytes differ
      {"Rest Stream", "REST STREAM", true},
  };
  for (const PairCase& c : cases) {
    EXPECT_EQ(TextEqualsIgnoreCase(c.A, c.B), c.Expected) << c.A << " / " << c.B;
  }
}

TEST(TextTests, PrefixComparesLeadingCharacters) {
  const PairCase cases[] = {
      {"PA", "PASV", false},  {"pasv 1", "PASV", true}, {"PASV", "PASV", true},
      {"anything", "", true}, {"", "", true},           {"", "X", false},
      {"226-Done", "226", true}, {"2260", "226 ", false},
  };
  for (const PairCase& c : cases) {
    EXPECT_EQ(TextHasPrefix(c.A, c.B), c.Expected) << c.A << " / " << c.B;
  }
}

TEST(TextTests, SuffixComparesTrailingCharacters) {
  const PairCase cases[] = {
      {"file.TXT", ".txt", true}, {"txt", ".txt", false}, {".txt", ".TXT", true},
      {"abc", "", true},          {"abcd", "bc", false},
  };
  for (const PairCase& c : cases) {
    EXPECT_EQ(TextHasSuffix(c.A, c.B), c.Expected) << c.A << " / " << c.B;
  }
}

TEST(TextTests, IndexOfTextFindsFirstMatch) {
  const std::vector<std::string> values = {"EPSV", "PASV", "pasv"};
  EXPECT_EQ(IndexOfText("pasv", values), 1);
  EXPECT_EQ(IndexOfText("pasv", values, true), 2);
  EXPECT_EQ(IndexOfText("PORT", values), -1);
  EXPECT_EQ(IndexOfText("x", {}), -1);
}

TEST(TextTests, TrimRemovesBlanksAndControlsButNotHighBytes) {
  EXPECT_EQ(Trim(" \t220 Ready\r\n"), "220 Ready");
  EXPECT_EQ(Trim("\x01\x1F "), "");
  // A trailing UTF-8 byte (>= 0x80) is text, not a control character.
  EXPECT_EQ(Trim(" caf\xC3\xA9 "), "caf\xC3\xA9");
  EXPECT_EQ(TrimLeft("  x  "), "x  ");
  EXPECT_EQ(TrimRight("  x  "), "  x");
}

// ---- Integer parsing ----------------------------------------------------------------------

struct IntCase {
  std::string Text;
  std::optional<int32_t> Expected; // nullopt: not a 32-bit integer
};

TEST(ParseTrimmedInt, ParsesOrRejects) {
  const IntCase cases[] = {
      {" 42 ", 42},
      {"\t-7\r\n", -7},
      {"+5", 5},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"4x2", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"1 2", std::nullopt},
      {"0x10", std::nullopt},
      {"1.5", std::nullopt},
  };
  for (const IntCase& c : cases) {
    if (c.Expected) {
      EXPECT_EQ(ParseTrimmedInt(c.Text), *c.Expected) << c.Text;
    } else {
      EXPECT_THROW(ParseTrimmedInt(c.Text), EIdConvertError) << c.Text;
    }
    EXPECT_EQ(ParseTrimmedInt(c.Text, -99), c.Expected.value_or(-99)) << c.Text;
  }
}

TEST(ParseTrimmedInt, ErrorNamesTheTrimmedText) {
  try {
    ParseTrimmedInt(" 4x2 ");
    FAIL() << "no exception";
  } catch (const EIdConvertError& e) {
    EXPECT_STREQ(e.what(), "'4x2' is not a valid integer value");
  }
}

struct Int64Case {
  std::string Text;
  std::optional<int64_t> Expected;
};

TEST(ParseTrimmedInt64, ParsesFull64BitRange) {
  const Int64Case cases[] = {
      {" 4294967296 ", 4294967296LL},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"18446744073709551616", std::nullopt},
      {"12a", std::nullopt},
  };
  for (const Int64Case& c : cases) {
    EXPECT_EQ(ParseTrimmedInt64(c.Text, -1), c.Expected.value_or(-1)) << c.Text;
    EXPECT_EQ(IsIntegerText(Trim(c.Text)), c.Expected.has_value()) << c.Text;
  }
}

TEST(IsIntegerText, DoesNotTrim) {
  EXPECT_TRUE(IsIntegerText("226"));
  EXPECT_FALSE(IsIntegerText(" 226"));
  EXPECT_FALSE(IsIntegerText("226 "));
  EXPECT_FALSE(IsIntegerText(""));
}

TEST(AreAllDigits, ChecksTheRequestedRange) {
  struct Case {
    std::string Text;
    int Length;
    int Index;
    bool Expected;
  };
  const Case cases[] = {
      {"12345", -1, 0, true}, {"12a45", -1, 0, false}, {"12a45", 2, 0, true},
      {"12a45", -1, 3, true}, {"12a45", 99, 3, true},  {"123", -1, 3, false},
      {"123", 0, 0, false},   {"", -1, 0, false},      {"123", -1, 50, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AreAllDigits(c.Text, c.Length, c.Index), c.Expected)
        << c.Text << " " << c.Length << " " << c.Index;
  }
  EXPECT_THROW(AreAllDigits("123", -1, -1), EIdAssertionFailure);
}

TEST(OctalTextToInt64, AccumulatesBaseEight) {
  EXPECT_EQ(OctalTextToInt64("755"), 0755);
  EXPECT_EQ(OctalTextToInt64("0644"), 0644);
  EXPECT_EQ(OctalTextToInt64("7x5"), 0705);
  EXPECT_EQ(OctalTextToInt64(""), 0);
  // An absurdly long text wraps rather than overflowing (UBSan would flag signed overflow).
  (void)OctalTextToInt64(std::string(100, '7'));
}

TEST(UsableCount, ClipsToWhatIsLeft) {
  struct Case {
    int64_t Length;
    int64_t Offset;
    int64_t Count;
    int64_t Expected;
  };
  const Case cases[] = {
      {10, 0, -1, 10}, {10, 4, -1, 6}, {10, 4, 3, 3}, {10, 4, 30, 6},
      {10, 10, -1, 0}, {10, 12, 5, 0}, {10, 0, 0, 0}, {0, 0, -1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UsableCount(c.Length, c.Offset, c.Count), c.Expected)
        << c.Length << " " << c.Offset << " " << c.Count;
  }
  EXPECT_EQ(UsableCount(TBytes(5), 2), 3);
  EXPECT_EQ(UsableCount(std::string_view("hello"), 1, 2), 2);
}

// ---- Time ---------------------------------------------------------------------------------

TEST(TickSpan, HandlesWrapAround) {
  struct Case {
    uint32_t Old;
    uint32_t New;
    uint32_t Expected;
  };
  const Case cases[] = {
      {5, 10, 5},
      {7, 7, 0},
      {10, 5, 4294967290u},
      {UINT32_MAX, 0, 0},
      {UINT32_MAX - 1, 3, 4},
      {0, UINT32_MAX, UINT32_MAX},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TickSpan(c.Old, c.New), c.Expected) << c.Old << " -> " << c.New;
  }
}

TEST(TickCountMs, CountsMilliseconds) {
  const uint32_t start = TickCountMs();
  SleepMs(20);
  const uint32_t span = TickSpan(start, TickCountMs());
  EXPECT_GE(span, 20u);
  EXPECT_LT(span, 10000u);
}

// Sets TZ for the lifetime of the object and restores the previous zone.
class ScopedTimeZone {
public:
  explicit ScopedTimeZone(const char* AZone) {
    if (const char* old = std::getenv("TZ")) {
      FOld = old;
    }
    setenv("TZ", AZone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (FOld) {
      setenv("TZ", FOld->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
  std::optional<std::string> FOld;
};

TEST(UtcOffsetOfLocalTime, IsPositiveEastOfUtc) {
  struct Case {
    const char* Zone; // POSIX TZ: the offset is given west-positive
    int MinutesEast;
  };
  const Case cases[] = {{"UTC0", 0}, {"EST5", -300}, {"IST-5:30", 330}, {"NPT-5:45", 345},
                        {"NST3:30", -210}};
  for (const Case& c : cases) {
    const ScopedTimeZone zone(c.Zone);
    EXPECT_NEAR(UtcOffsetOfLocalTime() * 24 * 60, c.MinutesEast, 1e-6) << c.Zone;
  }
}

TEST(InMainThread, IsFalseOnOtherThreads) {
  EXPECT_TRUE(InMainThread());
  bool inMain = true;
  std::thread worker([&] { inMain = InMainThread(); });
  worker.join();
  EXPECT_FALSE(inMain);
}

// ---- Other text utilities -----------------------------------------------------------------

TEST(TextUtilities, PathDelimiterAddedOnce) {
  EXPECT_EQ(WithTrailingPathDelimiter("/tmp"), "/tmp/");
  EXPECT_EQ(WithTrailingPathDelimiter("/tmp/"), "/tmp/");
  EXPECT_EQ(WithTrailingPathDelimiter(""), "/");
}

TEST(TextUtilities, ReplaceFirstOccurrenceOnly) {
  EXPECT_EQ(ReplaceFirstOccurrence("A=1=2", "=", ": "), "A: 1=2");
  EXPECT_EQ(ReplaceFirstOccurrence("abc", "x", "y"), "abc");
  EXPECT_EQ(ReplaceFirstOccurrence("abc", "", "y"), "abc");
  EXPECT_EQ(ReplaceFirstOccurrence("aAa", "A", ""), "aa");
}

TEST(TextUtilities, DeleteCharsClipsToText) {
  struct Case {
    std::string Text;
    int Index;
    int Count;
    std::string Expected;
  };
  const Case cases[] = {
      {"abcdef", 1, 2, "adef"}, {"abcdef", 4, 99, "abcd"}, {"abcdef", 6, 1, "abcdef"},
      {"abcdef", 9, 1, "abcdef"}, {"abcdef", 0, 0, "abcdef"}, {"abcdef", 0, -3, "abcdef"},
  };
  for (Case c : cases) {
    DeleteChars(c.Text, c.Index, c.Count);
    EXPECT_EQ(c.Text, c.Expected) << c.Index << " " << c.Count;
  }
  std::string text = "abc";
  EXPECT_THROW(DeleteChars(text, -1, 1), EIdAssertionFailure);
}

TEST(TextUtilities, CharSetTests) {
  EXPECT_EQ(CharIndexInSet("a-b", 1, "+-"), 1);
  EXPECT_EQ(CharIndexInSet("a-b", 0, "+-"), -1);
  EXPECT_EQ(CharIndexInSet("a-b", 3, "+-"), -1);
  EXPECT_TRUE(CharIsInSet("226 ", 3, " -"));
  EXPECT_FALSE(CharIsInSet("226", 3, " -"));
  EXPECT_TRUE(CharIsAt("226-", 3, '-'));
  EXPECT_FALSE(CharIsAt("", 0, '-'));
  try {
    CharIsAt("x", -1, 'x');
    FAIL() << "no exception";
  } catch (const EIdException& e) {
    EXPECT_STREQ(e.what(), "Invalid ACharPos");
  }
}

// ---- Text conversion ----------------------------------------------------------------------

TEST(TextToBytes, ConvertsRanges) {
  struct Case {
    std::string Text;
    int Length;
    int Index;
    TBytes Expected;
  };
  const Case cases[] = {
      {"hello", -1, 0, {'h', 'e', 'l', 'l', 'o'}},
      {"hello", 2, 1, {'e', 'l'}},
      {"hello", 99, 3, {'l', 'o'}},
      {"hello", 0, 0, {}},
      {"hello", -1, 5, {}},
      {"hello", -1, 50, {}},
      {"", -1, 0, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextToBytes(c.Text, c.Length, c.Index), c.Expected) << c.Length << " " << c.Index;
  }
  EXPECT_THROW(TextToBytes("x", 1, -1), EIdAssertionFailure);
}

TEST(TextToBytes, EncodesAccentsPerEncoding) {
  const std::string eAcute = "\xC3\xA9";
  EXPECT_EQ(TextToBytes(eAcute), TBytes{'?'}); // unset encoding: US-ASCII
  EXPECT_EQ(TextToBytes(eAcute, Latin1Encoding()), TBytes{0xE9});
  EXPECT_EQ(TextToBytes(eAcute, UTF8Encoding()), (TBytes{0xC3, 0xA9}));
  EXPECT_TRUE(TextToBytes("").empty());
}

TEST(CharToBytes, EncodesOneCodePoint) {
  EXPECT_EQ(CharToBytes(U'A'), TBytes{'A'});
  EXPECT_EQ(CharToBytes(U'\u00E9', Latin1Encoding()), TBytes{0xE9});
  EXPECT_EQ(CharToBytes(U'\u00E9', UTF8Encoding()), (TBytes{0xC3, 0xA9}));
  EXPECT_EQ(CharToBytes(U'\u20AC', Latin1Encoding()), TBytes{'?'});
  EXPECT_EQ(CharToBytes(U'\u20AC', UTF8Encoding()), (TBytes{0xE2, 0x82, 0xAC}));
  EXPECT_EQ(CharToBytes(static_cast<char32_t>(0x110000), UTF8Encoding()), TBytes{'?'});
}

TEST(BytesToText, DecodesRanges) {
  const TBytes bytes = {'a', 'b', 0xE9, 'c'};
  EXPECT_EQ(BytesToText(bytes, Latin1Encoding()), "ab\xC3\xA9" "c");
  EXPECT_EQ(BytesToText(bytes), "ab?c");
  EXPECT_EQ(BytesToText(bytes, 1, 2, Latin1Encoding()), "b\xC3\xA9");
  EXPECT_EQ(BytesToText(bytes, 3, -1), "c");
  EXPECT_EQ(BytesToText(bytes, 4, -1), "");
  EXPECT_EQ(BytesToText(bytes, 10, 5), "");
  EXPECT_EQ(BytesToText(TBytes{}), "");
  EXPECT_THROW(BytesToText(bytes, -1, 1), EIdAssertionFailure);
}

TEST(WriteTextToStream, WritesEncodedBytes) {
  TMemoryStream stream;
  WriteTextToStream(stream, "");
  EXPECT_EQ(stream.Size(), 0);
  WriteTextToStream(stream, "x\xC3\xA9", Latin1Encoding());
  EXPECT_EQ(stream.Memory(), (TBytes{'x', 0xE9}));
}

} // namespace
} // namespace ftpc

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "global/IdGlobalProtocols.h"

namespace ftpc {

void PrintTo(const TIdDateTimeParts& AParts, std::ostream* AOut) {
  *AOut << AParts.Year << "-" << AParts.Month << "-" << AParts.Day << " " << AParts.Hour << ":"
        << AParts.Minute << ":" << AParts.Second << "." << AParts.Millisecond;
}

namespace {

using namespace std::chrono;
using P = TIdDateTimeParts;

constexpr double kOneMs = 1.0 / 86400000.0;

// ---- Calendar values ---------------------------------------------------------------------

TEST(DateTime, KnownDaysHaveTheirConventionalNumbers) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDate(2024, 1, 2), 45293.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(P{1899, 12, 29, 6, 0, 0, 0}), -1.25);
}

TEST(DateTime, PartsSurviveEncodeAndDecode) {
  const P cases[] = {
      {2024, 1, 2, 3, 4, 5, 7}, {2024, 2, 29, 23, 59, 59, 999},  {2000, 2, 29, 12, 0, 0, 0},
      {1900, 3, 1, 0, 0, 0, 1}, {1899, 12, 30, 0, 0, 0, 0},      {1899, 12, 29, 6, 30, 0, 500},
      {1, 1, 1, 0, 0, 0, 0},    {9999, 12, 31, 23, 59, 59, 999}, {1969, 12, 31, 23, 59, 59, 999},
  };
  for (const P& parts : cases) {
    SCOPED_TRACE(UtcDateTimeToTimeStamp(EncodeDateTime(parts), true));
    EXPECT_EQ(DecodeDateTime(EncodeDateTime(parts)), parts);
  }
}

TEST(DateTime, DecodeRoundsToTheNearestMillisecond) {
  // Date plus time by floating-point addition lands a hair below 7 ms.
  const TDateTime value = EncodeDate(2024, 1, 2) + EncodeTime(3, 4, 5, 7);
  EXPECT_EQ(DecodeDateTime(value), (P{2024, 1, 2, 3, 4, 5, 7}));
  EXPECT_EQ(DecodeDateTime(EncodeDate(2024, 1, 2) - kOneMs * 3 / 4),
            (P{2024, 1, 1, 23, 59, 59, 999}));
  EXPECT_EQ(DecodeDateTime(EncodeDate(2024, 1, 3) - kOneMs / 3), (P{2024, 1, 3, 0, 0, 0, 0}));
}

TEST(DateTime, ImpossibleDatesAndTimesAreRejected) {
  const P cases[] = {
      {2023, 2, 29, 0, 0, 0, 0}, {1900, 2, 29, 0, 0, 0, 0}, {2024, 13, 1, 0, 0, 0, 0},
      {2024, 0, 1, 0, 0, 0, 0},  {2024, 4, 31, 0, 0, 0, 0}, {2024, 1, 0, 0, 0, 0, 0},
      {0, 1, 1, 0, 0, 0, 0},     {10000, 1, 1, 0, 0, 0, 0}, {2024, 1, 1, 24, 0, 0, 0},
      {2024, 1, 1, 0, 60, 0, 0}, {2024, 1, 1, 0, 0, 60, 0}, {2024, 1, 1, 0, 0, 0, 1000},
  };
  for (const P& p : cases) {
    SCOPED_TRACE(testing::PrintToString(p));
    EXPECT_THROW(EncodeDateTime(p), EIdConvertError);
    TDateTime date = 0;
    TDateTime time = 0;
    EXPECT_FALSE(TryEncodeDate(p.Year, p.Month, p.Day, date) &&
                 TryEncodeTime(p.Hour, p.Minute, p.Second, p.Millisecond, time));
  }
  try {
    EncodeDate(2023, 2, 29);
  } catch (const EIdConvertError& e) {
    EXPECT_EQ(e.Message(), "Invalid date (year 2023, month 2, day 29)");
  }
}

TEST(DateTime, ValuesOutsideTheCalendarAreRejected) {
  const TDateTime cases[] = {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             1e300,
                             -1e18,
                             EncodeDate(9999, 12, 31) + 1,
                             EncodeDate(9999, 12, 31) + 1 - kOneMs / 4,
                             EncodeDate(1, 1, 1) - 1};
  for (TDateTime value : cases) {
    SCOPED_TRACE(value);
    EXPECT_THROW(DecodeDateTime(value), EIdConvertError);
    EXPECT_THROW(UtcDateTimeToTimeStamp(value, false), EIdConvertError);
  }
  EXPECT_THROW(UnixToDateTime(std::numeric_limits<int64_t>::max()), EIdConvertError);
  EXPECT_THROW(UnixToDateTime(std::numeric_limits<int64_t>::min()), EIdConvertError);
}

TEST(DateTime, ConvertsToAndFromTheSystemClockAndUnixSeconds) {
  const sys_time<milliseconds> moments[] = {
      sys_days{2024y / 1 / 2} + 3h + 4min + 5s + 7ms,
      sys_days{1969y / 12 / 31} + 23h + 59min + 59s + 500ms,
      sys_days{1899y / 12 / 29} + 6h,
      sys_days{1970y / 1 / 1},
  };
  for (const auto& moment : moments) {
    SCOPED_TRACE(moment.time_since_epoch().count());
    const TDateTime value = SystemClockToDateTime(moment);
    EXPECT_EQ(DateTimeToSystemClock(value), moment);
    EXPECT_EQ(DateTimeToUnix(value), floor<seconds>(moment).time_since_epoch().count());
  }
  EXPECT_DOUBLE_EQ(SystemClockToDateTime(sys_days{2024y / 1 / 2} + 3h + 4min + 5s + 7ms),
                   EncodeDateTime(P{2024, 1, 2, 3, 4, 5, 7}));
  EXPECT_EQ(UnixToDateTime(0), 25569.0);
  EXPECT_EQ(DateTimeToUnix(EncodeDateTime(P{1969, 12, 31, 23, 59, 59, 500})), -1);
  // Sub-millisecond parts are dropped toward the past, also before 1970.
  EXPECT_EQ(DateTimeToSystemClock(SystemClockToDateTime(system_clock::time_point{-1us})),
            sys_time<milliseconds>{-1ms});
}

TEST(DateTime, NowUtcFollowsTheSystemClock) {
  const auto before = floor<milliseconds>(system_clock::now());
  const auto now = DateTimeToSystemClock(NowUTC());
  const auto after = floor<milliseconds>(system_clock::now());
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
}

// ---- Time stamps in UTC ------------------------------------------------------------------

struct TStampCase {
  const char* Stamp;
  P Expected;
};

TEST(TimeStampToUtcDateTime, ReadsDigitsFractionsAndZoneSuffixes) {
  const TStampCase cases[] = {
      {"20240102030405", {2024, 1, 2, 3, 4, 5, 0}},
      {"20240102030405.5", {2024, 1, 2, 3, 4, 5, 500}},
      {"20240102030405.05", {2024, 1, 2, 3, 4, 5, 50}},
      {"20240102030405.123", {2024, 1, 2, 3, 4, 5, 123}},
      {"20240102030405.123456", {2024, 1, 2, 3, 4, 5, 123}},
      {"20240102030405.", {2024, 1, 2, 3, 4, 5, 0}},
      {"20240102030405+60", {2024, 1, 2, 2, 4, 5, 0}},
      {"20240102030405-300", {2024, 1, 2, 8, 4, 5, 0}},
      {"20240102030405+0", {2024, 1, 2, 3, 4, 5, 0}},
      {"20240102030405.250+60", {2024, 1, 2, 2, 4, 5, 250}},
      {"20240101003000+60", {2023, 12, 31, 23, 30, 0, 0}},
      {"20240102030405+", {2024, 1, 2, 3, 4, 5, 0}},
      {"20240102030405 GMT", {2024, 1, 2, 3, 4, 5, 0}},
      {"20240102", {2024, 1, 2, 0, 0, 0, 0}},
      {"202401020304", {2024, 1, 2, 3, 4, 0, 0}},
      {"20240102xx0405", {2024, 1, 2, 0, 4, 5, 0}},
      {"00010101000000", {1, 1, 1, 0, 0, 0, 0}},
      {"99991231235959.999", {9999, 12, 31, 23, 59, 59, 999}},
  };
  for (const TStampCase& c : cases) {
    SCOPED_TRACE(c.Stamp);
    EXPECT_EQ(DecodeDateTime(TimeStampToUtcDateTime(c.Stamp)), c.Expected);
  }
  EXPECT_EQ(TimeStampToUtcDateTime(""), 0.0);
  EXPECT_EQ(TimeStampToLocalDateTime(""), 0.0);
}

TEST(TimeStampToUtcDateTime, ImpossibleStampsRaiseTheConversionError) {
  const char* cases[] = {
      "20240002030405",
      "20241302030405",
      "20240132030405",
      "20230229030405",
      "20240102240405",
      "20240102036005",
      "20240102030460",
      "00000102030405",
      "2024",
      "x",
      "-0010102030405",
      "20240102030405+1440",
      "20240102030405-99999999999999999999",
      "99991231235959-60",
  };
  for (const char* stamp : cases) {
    SCOPED_TRACE(stamp);
    EXPECT_THROW(TimeStampToUtcDateTime(stamp), EIdConvertError);
  }
}

// Every prefix of a full stamp, each in a buffer of exactly its own size so that a read past
// the end is caught by the address sanitizer, either converts or raises the conversion error.
TEST(TimeStampToUtcDateTime, TruncatedStampsNeverReadPastTheirEnd) {
  const std::string full = "20240102030405.123-300";
  for (size_t length = 1; length <= full.size(); ++length) {
    SCOPED_TRACE(full.substr(0, length));
    const auto buffer = std::make_unique<char[]>(length);
    full.copy(buffer.get(), length);
    try {
      TimeStampToUtcDateTime(std::string_view(buffer.get(), length));
    } catch (const EIdConvertError&) {
    }
  }
}

TEST(UtcDateTimeToTimeStamp, WritesFourteenDigitsAndMillisecondsOnlyWhenPresent) {
  const TDateTime withMs = EncodeDateTime(P{2024, 1, 2, 3, 4, 5, 7});
  const TDateTime wholeSecond = EncodeDateTime(P{2024, 1, 2, 3, 4, 5, 0});
  EXPECT_EQ(UtcDateTimeToTimeStamp(withMs, true), "20240102030405.007");
  EXPECT_EQ(UtcDateTimeToTimeStamp(withMs, false), "20240102030405");
  EXPECT_EQ(UtcDateTimeToTimeStamp(wholeSecond, true), "20240102030405");
  EXPECT_EQ(UtcDateTimeToTimeStamp(EncodeDateTime(P{999, 3, 4, 5, 6, 7, 0}), false),
            "09990304050607");
  EXPECT_EQ(UtcDateTimeToTimeStamp(0, true), "18991230000000");
  for (const char* stamp : {"20240102030405.007", "19700101000000", "20000229235959.999"}) {
    EXPECT_EQ(UtcDateTimeToTimeStamp(TimeStampToUtcDateTime(stamp), true), stamp);
  }
}

// ---- Local time and zones ----------------------------------------------------------------

// Runs a test under a fixed POSIX time zone and restores the previous one afterwards.
class LocalZone : public ::testing::Test {
protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) {
      FSaved = tz;
    }
  }
  void TearDown() override {
    if (FSaved) {
      ::setenv("TZ", FSaved->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  static void Use(const char* AZone) {
    ::setenv("TZ", AZone, 1);
    ::tzset();
  }

  std::optional<std::string> FSaved;
};

struct TZoneCase {
  const char* Zone; // POSIX form: the sign is west-positive
  int32_t Minutes;
  const char* Suffix;
};

constexpr TZoneCase kZones[] = {
    {"<+01>-1", 60, "+60"},        {"<-05>5", -300, "-300"},      {"UTC0", 0, "+0"},
    {"<+0545>-5:45", 345, "+345"}, {"<-0930>9:30", -570, "-570"},
};

TEST_F(LocalZone, MdtmStampCarriesTheLocalZoneMinutes) {
  const TDateTime local = EncodeDateTime(P{2024, 1, 2, 3, 4, 5, 0});
  for (const TZoneCase& c : kZones) {
    SCOPED_TRACE(c.Zone);
    Use(c.Zone);
    EXPECT_EQ(LocalZoneMinutes(), c.Minutes);
    EXPECT_EQ(DateTimeToMdtmStamp(local, true, true), std::string("20240102030405.000") + c.Suffix);
    EXPECT_EQ(DateTimeToMdtmStamp(local, false, false), "20240102030405");
    // The suffixed stamp reads back as the same moment in UTC.
    EXPECT_EQ(UtcDateTimeToTimeStamp(
                  TimeStampToUtcDateTime(DateTimeToMdtmStamp(local, false, true)), false),
              LocalDateTimeToTimeStamp(local, false));
  }
}

TEST_F(LocalZone, LocalStampsShiftByTheZoneOffset) {
  for (const TZoneCase& c : kZones) {
    SCOPED_TRACE(c.Zone);
    Use(c.Zone);
    const TDateTime local = TimeStampToLocalDateTime("20240102030405.250");
    const TDateTime expected = SystemClockToDateTime(sys_days{2024y / 1 / 2} + 3h + 4min + 5s +
                                                     250ms + minutes(c.Minutes));
    EXPECT_DOUBLE_EQ(local, expected);
    EXPECT_EQ(LocalDateTimeToTimeStamp(local, true), "20240102030405.250");
    const int64_t nowDifferenceMs =
        (DateTimeToSystemClock(Now()) - DateTimeToSystemClock(NowUTC())).count();
    EXPECT_NEAR(static_cast<double>(nowDifferenceMs), c.Minutes * 60000.0, 5000.0);
  }
}

TEST(MinutesToZoneOffset, GivesMinusTheMinutesAsADayFraction) {
  const struct {
    const char* Text;
    double Minutes;
  } cases[] = {{"120", -120}, {"-90", 90}, {"0", 0}, {" 60\t", -60}, {"+5", -5}, {"1439", -1439}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_NEAR(MinutesToZoneOffset(c.Text), c.Minutes / 1440.0, kOneMs / 10);
  }
}

TEST(MinutesToZoneOffset, RejectsNonIntegersAndWholeDays) {
  for (const char* text : {"", "abc", "1.5", "60min", "2147483648", "+-5"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(MinutesToZoneOffset(text), EIdConvertError);
  }
  for (const char* text : {"1440", "-1440", "-2147483648"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(MinutesToZoneOffset(text), EIdConvertError);
  }
  try {
    MinutesToZoneOffset(" abc ");
  } catch (const EIdConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
}

// ---- Other helpers -----------------------------------------------------------------------

TEST(LastPosOfText, FindsTheLastMatchAtOrBeforeTheStart) {
  const struct {
    const char* Sub;
    const char* In;
    std::ptrdiff_t Start;
    std::ptrdiff_t Expected;
  } cases[] = {
      {"b", "abcb", -1, 3},      {"b", "abcb", 2, 1},   {"x", "abcb", -1, -1}, {"B", "abcb", -1, 3},
      {"cb", "abcb", -1, 2},     {"cb", "abcb", 99, 2}, {"a", "abcb", 0, 0},   {"b", "abcb", 0, -1},
      {"abcbx", "abcb", -1, -1}, {"", "abcb", -1, -1},  {"ab", "", -1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Sub << " in " << c.In << " from " << c.Start);
    EXPECT_EQ(LastPosOfText(c.Sub, c.In, c.Start), c.Expected);
  }
}

TEST(RotateLeft32, BitsShiftedOutReenterOnTheRight) {
  EXPECT_EQ(RotateLeft32(0x80000001u, 1), 0x00000003u);
  EXPECT_EQ(RotateLeft32(0x12345678u, 8), 0x34567812u);
  EXPECT_EQ(RotateLeft32(0x12345678u, 0), 0x12345678u);
  EXPECT_EQ(RotateLeft32(0x12345678u, 32), 0x12345678u);
  EXPECT_EQ(RotateLeft32(1u, 33), 2u);
}

TEST(TempDirectoryPath, NamesAnExistingDirectoryWithATrailingDelimiter) {
  const std::string path = TempDirectoryPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.back(), '/');
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

} // namespace
} // namespace ftpc

#include "global/IdGlobalProtocols.h"

#include <bit>
#include <cmath>
#include <cstdlib>

#include "base/IdResourceStrings.h"
#include "global/IdFileApi.h"

namespace ftpc {

namespace {

// ---- Calendar arithmetic (proleptic Gregorian, days relative to 1970-01-01) --------------

struct TCivilDate {
  int64_t Year;
  unsigned Month;
  unsigned Day;
};

constexpr int64_t DaysFromCivil(int64_t AYear, unsigned AMonth, unsigned ADay) {
  const int64_t year = AYear - (AMonth <= 2 ? 1 : 0);
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (AMonth > 2 ? AMonth - 3 : AMonth + 9) + 2) / 5 + ADay - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

constexpr TCivilDate CivilFromDays(int64_t ADays) {
  const int64_t days = ADays + 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const unsigned month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  return {static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// Day numbers of TDateTime (days from 1899-12-30) for the first and last representable day.
constexpr int64_t kFirstDay = DaysFromCivil(1, 1, 1) + UnixDateDelta;
constexpr int64_t kLastDay = DaysFromCivil(9999, 12, 31) + UnixDateDelta;
static_assert(DaysFromCivil(1899, 12, 30) == -UnixDateDelta);

constexpr int64_t FloorDiv(int64_t A, int64_t B) {
  const int64_t quotient = A / B;
  return (A % B != 0 && (A < 0) != (B < 0)) ? quotient - 1 : quotient;
}

[[noreturn]] void RaiseOutOfRange() {
  throw EIdConvertError(std::string(RSDateTimeOutOfRange));
}

[[noreturn]] void RaiseInvalidDate(int64_t AYear, int64_t AMonth, int64_t ADay) {
  throw EIdConvertError(FormatInvariant(RSInvalidDate, {AYear, AMonth, ADay}));
}

[[noreturn]] void RaiseInvalidTime(int64_t AHour, int64_t AMinute, int64_t ASecond,
                                   int64_t AMillisecond) {
  throw EIdConvertError(FormatInvariant(RSInvalidTime, {AHour, AMinute, ASecond, AMillisecond}));
}

bool IsValidTime(uint16_t AHour, uint16_t AMinute, uint16_t ASecond, uint16_t AMillisecond) {
  return AHour < 24 && AMinute < 60 && ASecond < 60 && AMillisecond < 1000;
}

int64_t TimeOfDayMilliseconds(uint16_t AHour, uint16_t AMinute, uint16_t ASecond,
                              uint16_t AMillisecond) {
  return ((AHour * int64_t{60} + AMinute) * 60 + ASecond) * 1000 + AMillisecond;
}

// ---- The local zone ----------------------------------------------------------------------

// The local zone's current offset, in milliseconds east of UTC (whole minutes).
int64_t CurrentLocalOffsetMilliseconds() {
  return std::llround(UtcOffsetOfLocalTime() * static_cast<TDateTime>(MSecsPerDay));
}

TDateTime ShiftMilliseconds(TDateTime AValue, int64_t AMilliseconds) {
  return MillisecondsToDateTime(DateTimeToMilliseconds(AValue) + AMilliseconds);
}

// ---- Time stamps -------------------------------------------------------------------------

constexpr size_t kStampDigits = 14;
constexpr int64_t kMinutesPerDay = 1440;

size_t DigitRunEnd(std::string_view AText, size_t AFrom) {
  while (AFrom < AText.size() && IsDigitChar(AText[AFrom])) {
    ++AFrom;
  }
  return AFrom;
}

// A fixed-position field; past the end of the text or not a number, it reads 0.
int64_t StampField(std::string_view AStamp, size_t AIndex, size_t ALength) {
  if (AIndex >= AStamp.size()) {
    return 0;
  }
  return ParseTrimmedInt(AStamp.substr(AIndex, ALength), 0);
}

// The first three digits of a decimal fraction of a second, as milliseconds.
int64_t FractionMilliseconds(std::string_view ADigits) {
  int64_t milliseconds = 0;
  for (size_t i = 0; i < 3; ++i) {
    milliseconds = milliseconds * 10 + (i < ADigits.size() ? ADigits[i] - '0' : 0);
  }
  return milliseconds;
}

// Minutes east of UTC of a zone suffix ("+60", "-300") starting at AFrom; 0 when none is there.
int64_t ZoneSuffixMinutes(std::string_view AStamp, size_t AFrom) {
  if (AFrom >= AStamp.size() || (AStamp[AFrom] != '+' && AStamp[AFrom] != '-')) {
    return 0;
  }
  const size_t end = DigitRunEnd(AStamp, AFrom + 1);
  const std::string_view digits = AStamp.substr(AFrom + 1, end - AFrom - 1);
  if (digits.empty()) {
    return 0;
  }
  if (digits.size() > 4) {
    RaiseOutOfRange();
  }
  const int64_t minutes = StampField(digits, 0, 4);
  if (minutes >= kMinutesPerDay) {
    RaiseInvalidTime(minutes / 60, minutes % 60, 0, 0);
  }
  return AStamp[AFrom] == '-' ? -minutes : minutes;
}

struct TStampTail {
  int64_t Milliseconds = 0;
  int64_t ZoneMinutes = 0;
};

// What follows the date and time digits: the fraction after the first ".", then a zone suffix
// right after the fraction's digits, or right after the 14 digits when there is no fraction.
TStampTail ReadStampTail(std::string_view AStamp) {
  TStampTail tail;
  size_t zoneAt = kStampDigits;
  const size_t dot = AStamp.find('.');
  if (dot != std::string_view::npos) {
    const size_t end = DigitRunEnd(AStamp, dot + 1);
    tail.Milliseconds = FractionMilliseconds(AStamp.substr(dot + 1, end - dot - 1));
    zoneAt = end;
  }
  tail.ZoneMinutes = ZoneSuffixMinutes(AStamp, zoneAt);
  return tail;
}

bool FitsField(int64_t AValue) {
  return AValue >= 0 && AValue <= 0xFFFF;
}

TIdDateTimeParts ReadStampParts(std::string_view AStamp, int64_t AMilliseconds) {
  const int64_t year = StampField(AStamp, 0, 4);
  const int64_t month = StampField(AStamp, 4, 2);
  const int64_t day = StampField(AStamp, 6, 2);
  const int64_t hour = StampField(AStamp, 8, 2);
  const int64_t minute = StampField(AStamp, 10, 2);
  const int64_t second = StampField(AStamp, 12, 2);
  if (!FitsField(year) || !FitsField(month) || !FitsField(day)) {
    RaiseInvalidDate(year, month, day);
  }
  if (!FitsField(hour) || !FitsField(minute) || !FitsField(second)) {
    RaiseInvalidTime(hour, minute, second, AMilliseconds);
  }
  return {static_cast<uint16_t>(year),         static_cast<uint16_t>(month),
          static_cast<uint16_t>(day),          static_cast<uint16_t>(hour),
          static_cast<uint16_t>(minute),       static_cast<uint16_t>(second),
          static_cast<uint16_t>(AMilliseconds)};
}

void AppendZeroPadded(std::string& VText, unsigned AValue, size_t AWidth) {
  const std::string digits = std::to_string(AValue);
  if (digits.size() < AWidth) {
    VText.append(AWidth - digits.size(), '0');
  }
  VText += digits;
}

std::string StampDigits(const TIdDateTimeParts& AParts) {
  std::string stamp;
  stamp.reserve(24);
  AppendZeroPadded(stamp, AParts.Year, 4);
  AppendZeroPadded(stamp, AParts.Month, 2);
  AppendZeroPadded(stamp, AParts.Day, 2);
  AppendZeroPadded(stamp, AParts.Hour, 2);
  AppendZeroPadded(stamp, AParts.Minute, 2);
  AppendZeroPadded(stamp, AParts.Second, 2);
  return stamp;
}

void AppendMilliseconds(std::string& VStamp, uint16_t AMilliseconds) {
  VStamp.push_back('.');
  AppendZeroPadded(VStamp, AMilliseconds, 3);
}

} // namespace

// ---- Date-time values --------------------------------------------------------------------

bool IsLeapYear(uint16_t AYear) {
  return AYear % 4 == 0 && (AYear % 100 != 0 || AYear % 400 == 0);
}

uint16_t DaysInMonth(uint16_t AYear, uint16_t AMonth) {
  constexpr uint16_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (AMonth < 1 || AMonth > 12) {
    return 0;
  }
  return AMonth == 2 && IsLeapYear(AYear) ? 29 : kDays[AMonth - 1];
}

bool TryEncodeDate(uint16_t AYear, uint16_t AMonth, uint16_t ADay, TDateTime& VDate) {
  if (AYear < 1 || AYear > 9999 || ADay < 1 || ADay > DaysInMonth(AYear, AMonth)) {
    return false;
  }
  VDate = static_cast<TDateTime>(DaysFromCivil(AYear, AMonth, ADay) + UnixDateDelta);
  return true;
}

bool TryEncodeTime(uint16_t AHour, uint16_t AMinute, uint16_t ASecond, uint16_t AMillisecond,
                   TDateTime& VTime) {
  if (!IsValidTime(AHour, AMinute, ASecond, AMillisecond)) {
    return false;
  }
  VTime = static_cast<TDateTime>(TimeOfDayMilliseconds(AHour, AMinute, ASecond, AMillisecond)) /
          static_cast<TDateTime>(MSecsPerDay);
  return true;
}

TDateTime EncodeDate(uint16_t AYear, uint16_t AMonth, uint16_t ADay) {
  TDateTime date = 0;
  if (!TryEncodeDate(AYear, AMonth, ADay, date)) {
    RaiseInvalidDate(AYear, AMonth, ADay);
  }
  return date;
}

TDateTime EncodeTime(uint16_t AHour, uint16_t AMinute, uint16_t ASecond, uint16_t AMillisecond) {
  TDateTime time = 0;
  if (!TryEncodeTime(AHour, AMinute, ASecond, AMillisecond, time)) {
    RaiseInvalidTime(AHour, AMinute, ASecond, AMillisecond);
  }
  return time;
}

TDateTime EncodeDateTime(const TIdDateTimeParts& AParts) {
  const auto day = static_cast<int64_t>(EncodeDate(AParts.Year, AParts.Month, AParts.Day));
  if (!IsValidTime(AParts.Hour, AParts.Minute, AParts.Second, AParts.Millisecond)) {
    RaiseInvalidTime(AParts.Hour, AParts.Minute, AParts.Second, AParts.Millisecond);
  }
  const int64_t time =
      TimeOfDayMilliseconds(AParts.Hour, AParts.Minute, AParts.Second, AParts.Millisecond);
  return MillisecondsToDateTime(day * MSecsPerDay + time);
}

int64_t DateTimeToMilliseconds(TDateTime AValue) {
  if (!std::isfinite(AValue) || AValue <= static_cast<TDateTime>(kFirstDay - 1) ||
      AValue >= static_cast<TDateTime>(kLastDay + 1)) {
    RaiseOutOfRange();
  }
  // Before the epoch the fraction still counts forward from the start of its (negative) day.
  const TDateTime day = std::trunc(AValue);
  const auto timeOfDay =
      std::llround(std::fabs(AValue - day) * static_cast<TDateTime>(MSecsPerDay));
  return static_cast<int64_t>(day) * MSecsPerDay + timeOfDay;
}

TDateTime MillisecondsToDateTime(int64_t AMilliseconds) {
  const int64_t day = FloorDiv(AMilliseconds, MSecsPerDay);
  if (day < kFirstDay || day > kLastDay) {
    RaiseOutOfRange();
  }
  const TDateTime time = static_cast<TDateTime>(AMilliseconds - day * MSecsPerDay) /
                         static_cast<TDateTime>(MSecsPerDay);
  return day >= 0 ? static_cast<TDateTime>(day) + time : static_cast<TDateTime>(day) - time;
}

TIdDateTimeParts DecodeDateTime(TDateTime AValue) {
  const int64_t milliseconds = DateTimeToMilliseconds(AValue);
  const int64_t day = FloorDiv(milliseconds, MSecsPerDay);
  if (day < kFirstDay || day > kLastDay) {
    RaiseOutOfRange(); // rounding carried the last representable moment into year 10000
  }
  const TCivilDate date = CivilFromDays(day - UnixDateDelta);
  int64_t rest = milliseconds - day * MSecsPerDay;
  TIdDateTimeParts parts;
  parts.Year = static_cast<uint16_t>(date.Year);
  parts.Month = static_cast<uint16_t>(date.Month);
  parts.Day = static_cast<uint16_t>(date.Day);
  parts.Millisecond = static_cast<uint16_t>(rest % 1000);
  rest /= 1000;
  parts.Second = static_cast<uint16_t>(rest % 60);
  rest /= 60;
  parts.Minute = static_cast<uint16_t>(rest % 60);
  parts.Hour = static_cast<uint16_t>(rest / 60);
  return parts;
}

TDateTime SystemClockToDateTime(std::chrono::system_clock::time_point ATime) {
  const auto sinceUnixEpoch =
      std::chrono::floor<std::chrono::milliseconds>(ATime.time_since_epoch()).count();
  return MillisecondsToDateTime(sinceUnixEpoch + UnixDateDelta * MSecsPerDay);
}

std::chrono::sys_time<std::chrono::milliseconds> DateTimeToSystemClock(TDateTime AValue) {
  const int64_t sinceUnixEpoch = DateTimeToMilliseconds(AValue) - UnixDateDelta * MSecsPerDay;
  return std::chrono::sys_time<std::chrono::milliseconds>(
      std::chrono::milliseconds(sinceUnixEpoch));
}

TDateTime UnixToDateTime(int64_t ASeconds) {
  constexpr int64_t kLimit = (kLastDay + 1) * (MSecsPerDay / 1000);
  if (ASeconds > kLimit || ASeconds < -kLimit) {
    RaiseOutOfRange();
  }
  return MillisecondsToDateTime(ASeconds * 1000 + UnixDateDelta * MSecsPerDay);
}

int64_t DateTimeToUnix(TDateTime AValue) {
  return FloorDiv(DateTimeToMilliseconds(AValue) - UnixDateDelta * MSecsPerDay, 1000);
}

TDateTime NowUTC() {
  return SystemClockToDateTime(std::chrono::system_clock::now());
}

TDateTime Now() {
  return ShiftMilliseconds(NowUTC(), CurrentLocalOffsetMilliseconds());
}

// ---- FTP time stamps ---------------------------------------------------------------------

TDateTime TimeStampToUtcDateTime(std::string_view ATimeStamp) {
  if (ATimeStamp.empty()) {
    return 0;
  }
  const TStampTail tail = ReadStampTail(ATimeStamp);
  const TDateTime written = EncodeDateTime(ReadStampParts(ATimeStamp, tail.Milliseconds));
  return ShiftMilliseconds(written, -tail.ZoneMinutes * 60000);
}

TDateTime TimeStampToLocalDateTime(std::string_view ATimeStamp) {
  if (ATimeStamp.empty()) {
    return 0;
  }
  return ShiftMilliseconds(TimeStampToUtcDateTime(ATimeStamp), CurrentLocalOffsetMilliseconds());
}

std::string UtcDateTimeToTimeStamp(TDateTime AValue, bool AIncludeMSecs) {
  const TIdDateTimeParts parts = DecodeDateTime(AValue);
  std::string stamp = StampDigits(parts);
  if (AIncludeMSecs && parts.Millisecond != 0) {
    AppendMilliseconds(stamp, parts.Millisecond);
  }
  return stamp;
}

std::string LocalDateTimeToTimeStamp(TDateTime AValue, bool AIncludeMSecs) {
  return UtcDateTimeToTimeStamp(ShiftMilliseconds(AValue, -CurrentLocalOffsetMilliseconds()),
                                AIncludeMSecs);
}

std::string DateTimeToMdtmStamp(TDateTime AValue, bool AIncludeMSecs, bool AIncludeZone) {
  const TIdDateTimeParts parts = DecodeDateTime(AValue);
  std::string stamp = StampDigits(parts);
  if (AIncludeMSecs) {
    AppendMilliseconds(stamp, parts.Millisecond);
  }
  if (AIncludeZone) {
    const int32_t minutes = LocalZoneMinutes();
    if (minutes >= 0) {
      stamp.push_back('+');
    }
    stamp += std::to_string(minutes);
  }
  return stamp;
}

int32_t LocalZoneMinutes() {
  // Seconds of the offset are dropped, toward zero, whatever its sign.
  return static_cast<int32_t>(CurrentLocalOffsetMilliseconds() / 60000);
}

TDateTime MinutesToZoneOffset(std::string_view AMinutes) {
  const int32_t minutes = ParseTrimmedInt(AMinutes);
  const int64_t magnitude = std::abs(int64_t{minutes});
  if (magnitude >= kMinutesPerDay) {
    RaiseInvalidTime(magnitude / 60, magnitude % 60, 0, 0);
  }
  const TDateTime offset = static_cast<TDateTime>(magnitude) / kMinutesPerDay;
  return minutes > 0 ? -offset : offset;
}

// ---- Other helpers -----------------------------------------------------------------------

std::string TempDirectoryPath() {
  static const std::string path = [] {
    const std::string directory = detail::PlatformTempDirectory();
    return directory.empty() ? directory : WithTrailingPathDelimiter(directory);
  }();
  return path;
}

std::ptrdiff_t LastPosOfText(std::string_view ASub, std::string_view AIn, std::ptrdiff_t AStart) {
  if (ASub.empty() || ASub.size() > AIn.size()) {
    return -1;
  }
  const auto last = static_cast<std::ptrdiff_t>(AIn.size() - ASub.size());
  for (std::ptrdiff_t pos = AStart < 0 ? last : std::min(AStart, last); pos >= 0; --pos) {
    if (TextEqualsIgnoreCase(AIn.substr(static_cast<size_t>(pos), ASub.size()), ASub)) {
      return pos;
    }
  }
  return -1;
}

uint32_t RotateLeft32(uint32_t AValue, uint32_t AShift) {
  return std::rotl(AValue, static_cast<int>(AShift % 32));
}

} // namespace ftpc

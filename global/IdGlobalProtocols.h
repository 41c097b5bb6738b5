// Date-time values and the FTP time stamps built on them (MDTM, MFMT and the modify/create
// facts of MLSD/MLST), time-zone minutes, and a few small helpers the protocol layers share.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "global/IdGlobal.h"

namespace ftpc {

// ---- Date-time values --------------------------------------------------------------------
//
// A TDateTime counts days from 1899-12-30; the fraction is the time of day. 0 stands for "no
// time". Before that epoch the whole part is the (negative) day and the fraction, read as a
// positive amount, its time: -1.25 is 1899-12-29 06:00. Years 1 to 9999 are representable;
// decoding anything else, or a value that is not finite, raises EIdConvertError.
// Decoding rounds to the nearest millisecond.

inline constexpr int64_t MSecsPerDay = 86400000;
// Days from 1899-12-30 to 1970-01-01.
inline constexpr int64_t UnixDateDelta = 25569;

struct TIdDateTimeParts {
  uint16_t Year = 0;
  uint16_t Month = 0;
  uint16_t Day = 0;
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint16_t Millisecond = 0;

  bool operator==(const TIdDateTimeParts&) const = default;
};

bool IsLeapYear(uint16_t AYear);
// 0 for a month outside 1 to 12.
uint16_t DaysInMonth(uint16_t AYear, uint16_t AMonth);

// False for a date outside 0001-01-01 .. 9999-12-31 or a day the month does not have.
bool TryEncodeDate(uint16_t AYear, uint16_t AMonth, uint16_t ADay, TDateTime& VDate);
// False unless hour < 24, minute < 60, second < 60 and millisecond < 1000.
bool TryEncodeTime(uint16_t AHour, uint16_t AMinute, uint16_t ASecond, uint16_t AMillisecond,
                   TDateTime& VTime);
// The raising forms: EIdConvertError with the fields in the message.
TDateTime EncodeDate(uint16_t AYear, uint16_t AMonth, uint16_t ADay);
TDateTime EncodeTime(uint16_t AHour, uint16_t AMinute, uint16_t ASecond, uint16_t AMillisecond);
TDateTime EncodeDateTime(const TIdDateTimeParts& AParts);
TIdDateTimeParts DecodeDateTime(TDateTime AValue);

// Whole milliseconds since 1899-12-30 00:00 and back; exact integer arithmetic on moments.
int64_t DateTimeToMilliseconds(TDateTime AValue);
TDateTime MillisecondsToDateTime(int64_t AMilliseconds);

// Conversions to and from the system clock and Unix seconds; all of them UTC. A TDateTime
// holds milliseconds, so finer parts of a time point are dropped (rounded down).
TDateTime SystemClockToDateTime(std::chrono::system_clock::time_point ATime);
std::chrono::sys_time<std::chrono::milliseconds> DateTimeToSystemClock(TDateTime AValue);
TDateTime UnixToDateTime(int64_t ASeconds);
int64_t DateTimeToUnix(TDateTime AValue); // rounded down to the second

TDateTime NowUTC();
// Local time: UTC plus the local zone's current offset.
TDateTime Now();

// ---- FTP time stamps ---------------------------------------------------------------------
//
// A time stamp is YYYYMMDDHHMMSS, optionally followed by "." and a fraction of a second, in
// UTC (RFC 3659 section 2.3). Older servers that take local times add a zone suffix: a sign
// and the zone's minutes east of UTC ("20240102030405+60").

// Reads a time stamp. Fields past the end of the text or not numeric read 0; the fraction is
// a decimal fraction of a second (".5" is 500 ms; digits past milliseconds are dropped); a
// zone suffix, after the 14 digits or the fraction, is taken off to give UTC. An empty text
// gives 0. An impossible date or time raises EIdConvertError.
TDateTime TimeStampToUtcDateTime(std::string_view ATimeStamp);
// The same moment in local time (UTC plus the local zone's current offset); 0 for "".
TDateTime TimeStampToLocalDateTime(std::string_view ATimeStamp);
// 14 digits, plus "." and three digits of milliseconds when asked for and not zero.
std::string UtcDateTimeToTimeStamp(TDateTime AValue, bool AIncludeMSecs);
// The UTC time stamp of a local time (less the local zone's current offset).
std::string LocalDateTimeToTimeStamp(TDateTime AValue, bool AIncludeMSecs);
// AValue written unconverted: 14 digits, "." and three digits of milliseconds whenever asked
// for (also "000"), then the local zone's minutes with their sign ("+60", "-300", "+0").
std::string DateTimeToMdtmStamp(TDateTime AValue, bool AIncludeMSecs, bool AIncludeZone);

// The local zone's current offset from UTC in whole minutes, positive east of UTC.
int32_t LocalZoneMinutes();
// The day fraction of minus the signed minute count in AMinutes (as SITE ZONE reports it):
// "120" gives -2 hours. Text that is not an integer, or 1440 minutes or more either way,
// raises EIdConvertError.
TDateTime MinutesToZoneOffset(std::string_view AMinutes);

// ---- Other helpers -----------------------------------------------------------------------

// The platform's directory for temporary files with a trailing path delimiter, or empty;
// looked up once per process.
std::string TempDirectoryPath();

// 0-based position of the last occurrence of ASub in AIn that starts at or before AStart
// (negative: anywhere), compared ignoring ASCII case; -1 when there is none or ASub is empty.
std::ptrdiff_t LastPosOfText(std::string_view ASub, std::string_view AIn,
                             std::ptrdiff_t AStart = -1);

// AValue rotated left by AShift mod 32 bits.
uint32_t RotateLeft32(uint32_t AValue, uint32_t AShift);

} // namespace ftpc

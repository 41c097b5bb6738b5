// Time stamps and zone minutes as a server sends them (MDTM, MFMT, MLSD facts, SITE ZONE), and
// the date-time conversions behind them with arbitrary values: the only error is the
// conversion error, and a time stamp that reads writes back as the same moment.
#include <cmath>
#include <cstring>
#include <string>

#include "FuzzInput.h"
#include "global/IdGlobalProtocols.h"

namespace {

using namespace ftpc;

// Reads ATimeStamp; when it reads, writing and reading it again gives the same moment.
void CheckTimeStamp(std::string_view ATimeStamp) {
  TDateTime utc = 0;
  try {
    utc = TimeStampToUtcDateTime(ATimeStamp);
    (void)TimeStampToLocalDateTime(ATimeStamp);
  } catch (const EIdConvertError&) {
    return;
  }
  if (utc == 0) {
    return;
  }
  try {
    const std::string written = UtcDateTimeToTimeStamp(utc, true);
    fuzz::Require(DateTimeToMilliseconds(TimeStampToUtcDateTime(written)) ==
                  DateTimeToMilliseconds(utc));
  } catch (const EIdConvertError&) {
    // A zone suffix can carry a valid time stamp beyond year 9999 or before year 1.
  }
}

// Any bits as a date-time value, through every conversion that takes one.
void CheckValue(uint64_t ABits) {
  TDateTime value = 0;
  std::memcpy(&value, &ABits, sizeof value);
  try {
    (void)DecodeDateTime(value);
    (void)DateTimeToMilliseconds(value);
    (void)DateTimeToUnix(value);
    (void)UtcDateTimeToTimeStamp(value, true);
    (void)DateTimeToMdtmStamp(value, true, true);
    (void)DateTimeToSystemClock(value);
  } catch (const EIdConvertError&) {
  }
  const auto count = static_cast<int64_t>(ABits);
  try {
    (void)DecodeDateTime(MillisecondsToDateTime(count));
  } catch (const EIdConvertError&) {
  }
  try {
    (void)DecodeDateTime(UnixToDateTime(count));
  } catch (const EIdConvertError&) {
  }
}

void CheckParts(fuzz::TFuzzInput& AInput) {
  TIdDateTimeParts parts;
  for (uint16_t* field : {&parts.Year, &parts.Month, &parts.Day, &parts.Hour, &parts.Minute,
                          &parts.Second, &parts.Millisecond}) {
    *field = static_cast<uint16_t>(AInput.TakeByte() << 8 | AInput.TakeByte());
  }
  try {
    const TDateTime value = EncodeDateTime(parts);
    fuzz::Require(DecodeDateTime(value) == parts);
  } catch (const EIdConvertError&) {
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  fuzz::TFuzzInput input(AData, ASize);
  CheckTimeStamp(input.TakeText());
  try {
    (void)MinutesToZoneOffset(input.TakeText());
  } catch (const EIdConvertError&) {
  }
  CheckValue(input.TakeUInt64());
  CheckParts(input);
  return 0;
}

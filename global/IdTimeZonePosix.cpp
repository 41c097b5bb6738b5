// Local time through the C library: tzset() picks up TZ and the zone files, localtime_r()
// reports the offset in force at a moment (tm_gmtoff, seconds east of UTC).
#include "global/IdTimeZone.h"

#include <ctime>
#include <string>

#include "core/IdException.h"
#include "core/IdResourceStrings.h"

namespace ftpc::detail {

int32_t LocalUtcOffsetSeconds(int64_t AUnixSeconds) {
  ::tzset();
  const auto moment = static_cast<std::time_t>(AUnixSeconds);
  std::tm local{};
  if (::localtime_r(&moment, &local) == nullptr) {
    throw EIdFailedToRetreiveTimeZoneInfo(std::string(RSFailedTimeZoneInfo));
  }
  return static_cast<int32_t>(local.tm_gmtoff);
}

} // namespace ftpc::detail

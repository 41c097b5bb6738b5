// The one seam between the library and the platform's local-time and time-zone calls.
#pragma once

#include <cstdint>

namespace ftpc::detail {

// The local zone's offset from UTC, in seconds east of UTC, in force at AUnixSeconds. Reads
// the zone settings afresh on every call. Raises EIdFailedToRetreiveTimeZoneInfo.
int32_t LocalUtcOffsetSeconds(int64_t AUnixSeconds);

} // namespace ftpc::detail

// The platform seam of the shared helpers on Windows: the clock, the time zone, threads and
// sleeping, all from the Windows API.
#include <windows.h>

#include "base/IdResourceStrings.h"
#include "global/IdGlobal.h"

namespace ftpc {

// ---- Clock --------------------------------------------------------------------------------

namespace {

// The counter's frequency is fixed at boot; 0 when the machine has no such counter.
int64_t CounterFrequency() {
  static const int64_t frequency = [] {
    LARGE_INTEGER value{};
    return ::QueryPerformanceFrequency(&value) ? value.QuadPart : 0;
  }();
  return frequency;
}

} // namespace

uint32_t TickCountMs() {
  const int64_t frequency = CounterFrequency();
  LARGE_INTEGER counter{};
  if (frequency <= 0 || !::QueryPerformanceCounter(&counter)) {
    return ::GetTickCount();
  }
  // Whole seconds and the remainder apart, so the product cannot overflow.
  const int64_t seconds = counter.QuadPart / frequency;
  const int64_t rest = counter.QuadPart % frequency;
  const int64_t ms = seconds * 1000 + rest * 1000 / frequency;
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

// ---- Time zone ----------------------------------------------------------------------------

TDateTime UtcOffsetOfLocalTime() {
  constexpr double kMinutesPerDay = 24.0 * 60;
  TIME_ZONE_INFORMATION zone{};
  long bias = 0; // minutes, UTC minus local
  switch (::GetTimeZoneInformation(&zone)) {
  case TIME_ZONE_ID_UNKNOWN:
    bias = zone.Bias;
    break;
  case TIME_ZONE_ID_STANDARD:
    bias = zone.Bias + zone.StandardBias;
    break;
  case TIME_ZONE_ID_DAYLIGHT:
    bias = zone.Bias + zone.DaylightBias;
    break;
  default:
    throw EIdFailedToRetreiveTimeZoneInfo(std::string(RSFailedTimeZoneInfo));
  }
  return static_cast<double>(-bias) / kMinutesPerDay;
}

// ---- Threads ------------------------------------------------------------------------------

namespace {

// Static initialisation runs on the thread that starts the process.
const DWORD gMainThreadId = ::GetCurrentThreadId();

} // namespace

bool InMainThread() { return ::GetCurrentThreadId() == gMainThreadId; }

void SleepMs(uint32_t AMilliseconds) { ::Sleep(AMilliseconds); }

// Windows has no broken-pipe signal: a send to a closed connection fails with an error.
void IgnoreBrokenPipe() {}

} // namespace ftpc

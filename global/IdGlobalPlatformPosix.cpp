// The platform seam of the shared helpers: the clock, the time zone, threads and sleeping.
// Everything here asks the operating system; IdGlobalPlatformWindows.cpp is the Windows one.
#include <chrono>
#include <csignal>
#include <ctime>
#include <thread>

#include "base/IdResourceStrings.h"
#include "global/IdGlobal.h"

namespace ftpc {

// ---- Clock --------------------------------------------------------------------------------

uint32_t TickCountMs() {
  // A monotonic clock, so a change of the wall clock never makes a time-out fire early or late.
  const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

// ---- Time zone ----------------------------------------------------------------------------

TDateTime UtcOffsetOfLocalTime() {
  constexpr long kSecondsPerDay = 24L * 60 * 60;
  constexpr double kMinutesPerDay = 24.0 * 60;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr ||
      local.tm_gmtoff <= -kSecondsPerDay || local.tm_gmtoff >= kSecondsPerDay) {
    throw EIdFailedToRetreiveTimeZoneInfo(std::string(RSFailedTimeZoneInfo));
  }
  // Whole minutes (truncated on purpose), east of UTC positive; the current daylight-saving
  // state is included.
  const long minutesEast = local.tm_gmtoff / 60;
  return static_cast<double>(minutesEast) / kMinutesPerDay;
}

// ---- Threads ------------------------------------------------------------------------------

namespace {

// Static initialisation runs on the thread that starts the process.
const std::thread::id gMainThreadId = std::this_thread::get_id();

} // namespace

bool InMainThread() { return std::this_thread::get_id() == gMainThreadId; }

void SleepMs(uint32_t AMilliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(AMilliseconds));
}

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

} // namespace ftpc

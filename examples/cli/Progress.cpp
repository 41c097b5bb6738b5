#include "examples/cli/Progress.h"

#include <cmath>
#include <cstdio>

namespace ftpc::cli {

namespace {

constexpr int kBarWidth = 24;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr double kUnitStep = 1024.0;
constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 60 * kSecondsPerMinute;
// Below this the rate says nothing yet.
constexpr double kMinRateSeconds = 0.05;

std::string FormatDuration(double ASeconds) {
  const long long total = std::llround(ASeconds);
  char text[32];
  if (total >= kSecondsPerHour) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / kSecondsPerHour,
                  total % kSecondsPerHour / kSecondsPerMinute, total % kSecondsPerMinute);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", total / kSecondsPerMinute,
                  total % kSecondsPerMinute);
  }
  return text;
}

std::string Bar(double AFraction) {
  const int filled = static_cast<int>(AFraction * kBarWidth);
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "]";
}

} // namespace

std::string FormatBytes(double ABytes) {
  size_t unit = 0;
  while (ABytes >= kUnitStep && unit + 1 < std::size(kUnits)) {
    ABytes /= kUnitStep;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", ABytes, kUnits[unit]);
  return text;
}

std::string FormatProgress(int64_t AStart, int64_t ADone, int64_t ATotal, double ASeconds) {
  const int64_t have = AStart + ADone;
  const double rate = ASeconds >= kMinRateSeconds ? static_cast<double>(ADone) / ASeconds : 0.0;
  std::string line;
  if (ATotal > 0) {
    const double fraction = std::min(1.0, static_cast<double>(have) / static_cast<double>(ATotal));
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%% ", static_cast<int>(fraction * 100));
    line = percent + Bar(fraction) + " " + FormatBytes(static_cast<double>(have)) + " / " +
           FormatBytes(static_cast<double>(ATotal));
  } else {
    line = FormatBytes(static_cast<double>(have));
  }
  line += "  " + FormatBytes(rate) + "/s";
  if (ATotal > 0 && rate > 0 && have <= ATotal) {
    line += "  ETA " + FormatDuration(static_cast<double>(ATotal - have) / rate);
  }
  return line;
}

ProgressBar::ProgressBar(int64_t AStart, int64_t ATotal) : FStart(AStart), FTotal(ATotal) {}

void ProgressBar::Update(int64_t ADone) {
  FDone = ADone;
  if (Clock::now() - FLastDraw >= kRedrawInterval) {
    Draw(ADone);
  }
}

void ProgressBar::Finish() {
  if (FFinished) {
    return;
  }
  FFinished = true;
  Draw(FDone);
  std::fputs("\n", stderr);
}

// "\r" returns to the line start; "\033[K" clears what a longer line left behind.
void ProgressBar::Draw(int64_t ADone) {
  FLastDraw = Clock::now();
  const double seconds = std::chrono::duration<double>(FLastDraw - FBegin).count();
  std::fprintf(stderr, "\r%s\033[K", FormatProgress(FStart, ADone, FTotal, seconds).c_str());
  std::fflush(stderr);
}

} // namespace ftpc::cli

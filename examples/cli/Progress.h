// The progress bar of --progress: percentage, bytes, rate and time left, redrawn in place on
// stderr at a bounded rate, and only when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace ftpc::cli {

// One line of the bar. ATotal < 0: the size is unknown (no percentage, no ETA). AStart bytes
// were there before (a resumed transfer) and count towards the total but not the rate.
std::string FormatProgress(int64_t AStart, int64_t ADone, int64_t ATotal, double ASeconds);

// "1023 B", "1.5 KiB", "12.0 MiB", ...
std::string FormatBytes(double ABytes);

// Defined by the platform unit (Platform*.cpp).
bool StderrIsTerminal();

class ProgressBar {
public:
  ProgressBar(int64_t AStart, int64_t ATotal);
  // ADone: bytes moved by this transfer so far.
  void Update(int64_t ADone);
  // Draws the final state and ends the line.
  void Finish();

private:
  using Clock = std::chrono::steady_clock;

  void Draw(int64_t ADone);

  int64_t FStart;
  int64_t FTotal;
  int64_t FDone = 0;
  Clock::time_point FBegin = Clock::now();
  Clock::time_point FLastDraw{};
  bool FFinished = false;
};

} // namespace ftpc::cli

// How `ktq` shows firmware-write progress: a bar with elapsed time and an
// estimate of the time left on a terminal, plain percentage lines otherwise
// (logs, pipes, CI).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ktq::cli {

class ProgressDisplay {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressDisplay(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

  // A percent value from the progress slot. Repeated values draw nothing.
  void OnProgress(uint32_t percent);
  // A text from the message slot: ends the bar's line first, so messages
  // never land in the middle of the bar.
  void OnMessage(const char* text);

  // The bar line for `percent` after `elapsed` (exposed for tests).
  static std::string BarLine(uint32_t percent, Clock::duration elapsed);

 private:
  void EndBarLine();

  std::FILE* out_;
  bool terminal_;
  bool barOpen_ = false;
  bool started_ = false;
  int64_t lastPercent_ = -1;
  Clock::time_point start_{};
};

}  // namespace ktq::cli

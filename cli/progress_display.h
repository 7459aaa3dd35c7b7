// How `ktq` shows firmware-write progress: a bar with elapsed time and an
// estimate of the time left on a terminal, plain percentage lines otherwise
// (logs, pipes, CI). On a terminal a clock thread redraws the line every
// second, so the time keeps moving during the erase and during a slow chunk.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace ktq::cli {

class ProgressDisplay {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressDisplay(std::FILE* out, bool terminal);
  ~ProgressDisplay();  // Finish()
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // A percent value from the progress slot. Repeated values draw nothing.
  void OnProgress(uint32_t percent);
  // A text from the message slot: ends the bar's line first, so messages
  // never land in the middle of the bar. "Erasing flash..." starts the
  // erase clock.
  void OnMessage(const char* text);
  // Ends the bar's line and stops the clock.
  void Finish();

  // The bar line for `percent` after `elapsed`, at most `width` columns
  // (exposed for tests).
  static std::string BarLine(uint32_t percent, Clock::duration elapsed, int width = 80);

 private:
  void EndBarLine();
  void Redraw();  // with the lock held
  std::string EraseLine() const;  // "Erasing flash... 00:03"
  void Tick();

  std::FILE* out_;
  bool terminal_;
  int width_ = 80;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread clock_;
  bool finished_ = false;
  bool barOpen_ = false;
  bool started_ = false;
  bool erasing_ = false;
  Clock::time_point eraseStart_{};
  int64_t lastPercent_ = -1;
  Clock::time_point start_{};
};

}  // namespace ktq::cli

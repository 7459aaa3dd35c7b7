// Time budgets of the RC reply wait, and the clock and sleep it uses. Tests
// replace the clock and the sleep so that no test waits in real time.
#pragma once

#include <chrono>

namespace ktq {

using RcClock = std::chrono::steady_clock;

struct RcTiming {
  // Elapsed time from sending a request until its reply must be complete.
  std::chrono::microseconds replyBudget{5'000'000};
  // The same for UPDC_ERASE_FLASH: a 512 KiB flash erases in a few seconds
  // on the slowest parts we know of; 60 s leaves ample room and still ends a
  // wait on a dead device within a minute.
  std::chrono::microseconds eraseBudget{60'000'000};
  // Pause after a failed fetch before the next one.
  std::chrono::microseconds failedFetchPause{500'000};
  // Pause before every poll of an erase.
  std::chrono::microseconds erasePollPause{100'000};
  RcClock::time_point (*now)() = &RcClock::now;
  void (*sleep)(std::chrono::microseconds) = nullptr;  // null: the thread sleeps
};

// How often one chunk is sent again after status 4 and a successful
// re-enable; a device that keeps answering 4 then ends the call with 4.
constexpr int kMaxReenablesPerChunk = 3;

// Replaces the process-wide timing; RcTiming{} restores the defaults.
void SetRcTiming(const RcTiming& timing);
const RcTiming& CurrentRcTiming();

// Every deliberate pause of the device logic (reply waits, the diagnostic
// dump's one-second settling times) goes through here: the installed sleep,
// or a real sleep of the calling thread when none is installed.
void Pause(std::chrono::microseconds duration);

}  // namespace ktq

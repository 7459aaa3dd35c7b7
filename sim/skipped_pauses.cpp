#include "sim/skipped_pauses.h"

#include <atomic>

namespace ktq::sim {

namespace {

std::atomic<int64_t> skippedUs{0};

RcClock::time_point SkippedNow() { return RcClock::now() + std::chrono::microseconds(skippedUs.load()); }
void SkipPause(std::chrono::microseconds d) { skippedUs += d.count(); }

}  // namespace

RcTiming SkippedPauseTiming() {
  RcTiming timing;
  timing.now = SkippedNow;
  timing.sleep = SkipPause;
  return timing;
}

std::chrono::microseconds SkippedPauses() { return std::chrono::microseconds(skippedUs.load()); }

}  // namespace ktq::sim

// Host timing for runs against the virtual converter, which needs no time
// to settle: every pause of the device logic returns at once and is added
// to the clock the reply waits read instead, so a wait budget still ends
// after as many failed fetches as with real pauses.
#pragma once

#include <chrono>

#include "device/rc_timing.h"

namespace ktq::sim {

// The RC timing to install; its pauses skip ahead of the steady clock.
RcTiming SkippedPauseTiming();

// The pauses skipped so far in this process.
std::chrono::microseconds SkippedPauses();

}  // namespace ktq::sim

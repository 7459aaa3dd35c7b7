// The time the virtual converter lives in. Normally the steady clock: an
// erase keeps its reply pending for real milliseconds and a modelled latency
// is slept. With virtual time on, a clock that moves only when the converter
// makes a transfer or a waiter sleeps: the host's RC waits are put on it too
// (SetRcTiming), so budgets of seconds pass in microseconds of wall time and
// a run takes the same course however loaded the machine is.
#pragma once

#include <chrono>

namespace ktq::sim {

using ModelTime = std::chrono::steady_clock::time_point;

ModelTime ModelNow();
// Spends `d`: sleeps on the steady clock, or moves the virtual clock on.
void ModelSleep(std::chrono::microseconds d);

// What one transfer costs in virtual time when the scenario models no
// latency: one frame of a full-speed USB device. Without it a host that
// polls a reply that never completes would never see its budget run out.
constexpr std::chrono::microseconds kVirtualTransferTime{1000};

bool VirtualTimeOn();
// On: the virtual clock starts at the steady clock's present reading and the
// host's RC timing keeps its budgets but takes this clock and sleep. Off: the
// steady clock again and the RC timing as it was before.
void UseVirtualTime(bool on);

}  // namespace ktq::sim

// A request to stop the running operation at its next safe point (the
// firmware write between chunks, the Tefra log between records). A front
// end sets it, from a signal handler if need be; the operation ends as its
// failure path does and returns kOperationStopped.
#pragma once

#include <cstdint>

namespace ktq {

constexpr int32_t kOperationStopped = -3;

void RequestOperationStop();  // async-signal-safe
void ClearOperationStop();
bool OperationStopRequested();

}  // namespace ktq

#include "operations/operation_stop.h"

#include <atomic>

namespace ktq {

namespace {
// Lock-free, so a signal handler may set it.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

void RequestOperationStop() { stopRequested.store(true); }
void ClearOperationStop() { stopRequested.store(false); }
bool OperationStopRequested() { return stopRequested.load(); }

}  // namespace ktq

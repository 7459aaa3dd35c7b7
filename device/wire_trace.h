// Wire trace: records every HID primitive of the installed backend, one line
// each, for support engineers, for replaying a session (sim/trace_replay.h)
// and for reading the wire format in tests. The line format is in
// wire_trace_format.h; OPEN names the opened device (path, IDs, serial,
// product) so that a replay can present the same one.
#pragma once

#include <string>

namespace ktq {

// Wraps the installed HID backend (SetHidBackend) so that its transfers are
// recorded to `path`, which is created or truncated. Call after installing
// the backend and before RCInit. False, with `error` set, when the file
// cannot be opened or no backend is installed.
bool StartWireTrace(const std::string& path, std::string& error);

// Puts the wrapped backend back and closes the file. Call after RCExit.
void StopWireTrace();

}  // namespace ktq

// Wire trace: records every HID primitive of the installed backend, one line
// each, for support engineers and for reading the wire format in tests:
//
//   <microseconds since the trace began> <WORD>[ <62 bytes as XX XX ...>]
//
// WORD is OPEN, CLOSE, OUT, IN, OUT-FAIL, IN-FAIL or REMOVED; only OUT and IN
// carry the report bytes (upper-case hex, separated by single spaces).
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

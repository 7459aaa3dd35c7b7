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
// recorded to `path`. The trace is written beside it and replaces `path`
// when it is stopped, so an existing file is left alone until the new trace
// is whole. Call after installing
// the backend and before RCInit. False, with `error` set, when the file
// cannot be opened or no backend is installed.
bool StartWireTrace(const std::string& path, std::string& error);

// Puts the wrapped backend back, closes the file and renames it into place.
// Call after RCExit. False (with `error` set, if given) when a line could not
// be written or the file not completed: the partial trace is removed.
bool StopWireTrace(std::string* error = nullptr);

}  // namespace ktq

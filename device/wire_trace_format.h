// The wire trace's line format, written by the wire trace (wire_trace.h) and
// read back by whoever replays or checks a trace. One line per HID primitive:
//
//   <microseconds since the trace began> <WORD>[ <fields>]
//
//   OPEN [path="..." vid=XXXX pid=XXXX serial="..." product="..."]
//   CLOSE | OUT-FAIL | IN-FAIL | REMOVED
//   OUT | IN <62 report bytes, two upper-case hex digits each, single spaces>
//
// OPEN names the device that was opened; traces written before it did so
// have a bare OPEN, which stays valid. Quoted texts are UTF-8 with \" \\ and
// \xHH escapes for quotes, backslashes and control bytes. Reading also
// accepts blank lines, lines starting with '#' (comments a person added) and
// a trailing '\r'.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ktq {

enum class TraceWord { kOpen, kClose, kOut, kIn, kOutFail, kInFail, kRemoved };

// The device an OPEN line names.
struct TraceDevice {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string serial;   // UTF-8
  std::string product;  // UTF-8
};

struct TraceEntry {
  size_t line = 0;  // 1-based line number in the text it was read from
  uint64_t micros = 0;
  TraceWord word = TraceWord::kOpen;
  std::array<uint8_t, 62> report{};   // OUT and IN
  std::optional<TraceDevice> device;  // OPEN, when the line names one
};

const char* TraceWordName(TraceWord word);

// One line without its end, as the wire trace writes it.
std::string FormatTraceLine(const TraceEntry& entry);

// Every entry of a trace text. False with `error` naming the line and what
// was expected there ("line 7: OUT: expected 62 report bytes, found 61").
bool ParseTraceText(std::string_view text, std::vector<TraceEntry>& entries, std::string& error);

// Whether a text is meant as a trace rather than anything else: its first
// line that is neither blank nor a comment starts with a digit (a time
// stamp), or it has no such line (a session that never opened a device
// records nothing). Says nothing about whether it is a valid one.
bool LooksLikeTrace(std::string_view text);

}  // namespace ktq

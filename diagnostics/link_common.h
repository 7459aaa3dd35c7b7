// What the two layouts of the link status report share: name tables and
// the sink's symbol-error line.
#pragma once

#include <cstdint>
#include <string>

namespace ktq::diag {

inline const char* OnOff(bool on) { return on ? "ON" : "OFF"; }
inline const char* Enabled(bool on) { return on ? "enabled" : "disabled"; }
inline const char* StreamMode(bool mst) { return mst ? "MST" : "SST"; }

// Register value of a block the chip does not drive: no value at all.
constexpr uint32_t kNoValue = 0xFEEDB001;

// Reads the four lane counters at DPCD 0x210 of the sink behind `port`,
// pauses one second, reads them again and appends "symbol error recently:
// ..., in 1s: ...\r\n"; nothing when either read fails.
void AppendSinkSymbolErrors(std::string& text, uint32_t port);

}  // namespace ktq::diag

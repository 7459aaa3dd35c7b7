// Name tables shared by the two layouts of the link status report.
#pragma once

#include <cstdint>

namespace ktq::diag {

inline const char* OnOff(bool on) { return on ? "ON" : "OFF"; }
inline const char* Enabled(bool on) { return on ? "enabled" : "disabled"; }
inline const char* StreamMode(bool mst) { return mst ? "MST" : "SST"; }

// Register value of a block the chip does not drive: no value at all.
constexpr uint32_t kNoValue = 0xFEEDB001;

}  // namespace ktq::diag

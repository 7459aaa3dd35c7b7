// The chip's embedded Tefra log as the virtual converter models it: a list of
// 32-byte records handed out one per UPDC_READ_TEFRA_LOG, then a final
// status answered to every later read.
//
// Converter section "tefra":
//   "records"      list of records, 32 bytes each (byte strings)
//   "final_status" status after the last record, 1 to 255 (default 0x07)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ktq::sim {

class VirtualConverter;
class SimRegistry;

struct TefraLogState {
  std::vector<std::array<uint8_t, 32>> records;
  uint8_t finalStatus = 0x07;
  size_t next = 0;        // records handed out
  uint32_t controls = 0;  // UPDC_TEFRA_LOG_CONTROL commands received
};

void InstallTefraLogModel(SimRegistry& registry);

}  // namespace ktq::sim

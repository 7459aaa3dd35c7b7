// The converter chip's I2C master as the virtual converter models it: three
// buses with a speed each (100 kHz at power-up), transactions carried in HID
// reports (byte 1 0x10) whose replies report state 1 while running (for
// `pending_polls` fetches) and 2 when done, and speed reports (byte 1 0x11)
// that have no reply. Slaves: the RDX4410 when the converter has one.
//
// Converter section "i2c" (faults of the master):
//   "invalid_replies"       the first N transactions are answered with a
//                           reply whose byte 1 is not 0x10
//   "failing_read_address"  register address whose reads fail ...
//   "failing_reads"         ... this many times (bus error), then succeed
// Converter section "rdx4410": the companion chip (docs/simulator.md).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "sim/rdx4410_model.h"

namespace ktq::sim {

class VirtualConverter;
class SimRegistry;

constexpr uint8_t kI2CResultBadRequest = 0xEE;  // the master could not parse the report

struct I2cMasterState {
  std::array<uint16_t, 3> speedKhz{100, 100, 100};
  std::vector<std::pair<uint8_t, uint16_t>> speedReports;  // (bus, kHz) as accepted
  uint32_t transactions = 0;
  uint32_t invalidRepliesLeft = 0;
  std::optional<uint32_t> failingReadAddress;
  uint32_t failingReadsLeft = 0;
  std::shared_ptr<Rdx4410Model> rdx4410;  // null: nothing on the buses
};

// The RDX4410 of a converter, or null when it has none.
Rdx4410Model* CompanionChip(VirtualConverter& converter);

void InstallI2cMasterModel(SimRegistry& registry);

}  // namespace ktq::sim

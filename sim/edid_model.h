// The converter's EDIDs: the one it presents on its input and the one of the
// display on each output port, with the display's hot-plug line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace ktq::sim {

class VirtualConverter;

// Status of an EDID read that finds no EDID: the output's display is
// unplugged or has none, or the offset lies past its last block.
constexpr uint8_t kStatusNoEdid = 0x83;

// Up to four output ports (a type-6 chip has four transmitters).
constexpr size_t kEdidOutputPorts = 4;

struct EdidOutput {
  std::vector<uint8_t> edid;  // whole 128-byte blocks; empty: none
  bool hotPlug = false;
};

// Per-converter state of the model (VirtualConverter::Extension<EdidState>).
struct EdidState {
  std::vector<uint8_t> input;
  std::array<EdidOutput, kEdidOutputPorts> outputs;
  size_t outputCount = 0;  // outputs the scenario names
};

}  // namespace ktq::sim

// The chip's identity as the host reads it (scenario section "chip").
#pragma once

#include <cstdint>

namespace ktq::sim {

class VirtualConverter;

// Writes the firmware version word where the host reads it
// (CORE_MCU_FW_VERSION), as new firmware reports itself after a restart.
void SetFirmwareVersion(VirtualConverter& converter, uint32_t version);

}  // namespace ktq::sim

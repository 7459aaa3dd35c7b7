// Chip identification: decides the chip type from its date code, loads the
// matching register database and reports the chip's identity.
#pragma once

#include <cstdint>

#include "chipdb/chip_type.h"

// Identifies the open chip. 0 when it is supported and its database is
// loaded (even if the firmware version or name could not be read); 242
// (0xF2) otherwise. Texts go to the information and message slots.
int32_t RCIdentifyChip();

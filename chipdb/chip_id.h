// Chip identification: decides the chip type from its date code, loads the
// matching register database and reports the chip's identity.
#pragma once

#include <cstdint>

// Identifies the open chip. 0 when it is supported and its database is
// loaded (even if the firmware version or name could not be read); 242
// (0xF2) otherwise. Texts go to the information and message slots.
int32_t RCIdentifyChip();

// 4 (companion chip, or main chip not supported), 5 or 6; 5 until the first
// identification.
uint32_t CurrentChipType();

// Silicon revision read by the last successful identification; 0 before.
uint32_t ChipRevision();

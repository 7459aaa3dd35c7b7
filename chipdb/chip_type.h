// The identity of the open chip as the last identification decided it: its
// type, which selects the register database, and its silicon revision.
// Identification sets it; the register database and everything above read it.
#pragma once

#include <cstdint>

// 4 (companion chip, or main chip not supported), 5 or 6; 5 until the first
// identification.
uint32_t CurrentChipType();

// Silicon revision read by the last successful identification; 0 before.
uint32_t ChipRevision();

namespace ktq::chipdb {

void SetCurrentChipType(uint32_t chipType);
void SetChipRevision(uint32_t revision);

}  // namespace ktq::chipdb

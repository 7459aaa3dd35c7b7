// A straightforward bit-at-a-time decoder of the register databases' LZ77
// format: the baseline that LZ77Decompress is measured against. One bit per
// call, fields assembled bit by bit, each match moved as one block.
#pragma once

#include <cstdint>

void BaselineLz77Decompress(const uint8_t* source, uint32_t lengthInBits, uint8_t* dest,
                            uint32_t* produced);

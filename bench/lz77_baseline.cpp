#include "bench/lz77_baseline.h"

#include <cstring>

namespace {

uint32_t GetBit(const uint8_t* source, uint32_t pos) { return (source[pos >> 3] >> (pos & 7)) & 1; }

uint32_t GetBits(const uint8_t* source, uint32_t pos, uint32_t count) {
  uint32_t value = 0;
  for (uint32_t i = 0; i < count; ++i) value |= GetBit(source, pos + i) << i;
  return value;
}

}  // namespace

void BaselineLz77Decompress(const uint8_t* source, uint32_t lengthInBits, uint8_t* dest,
                            uint32_t* produced) {
  uint32_t pos = 0;
  uint32_t out = 0;
  while (pos < lengthInBits) {
    if (GetBit(source, pos) == 0) {
      dest[out++] = static_cast<uint8_t>(GetBits(source, pos + 1, 8));
      pos += 9;
      continue;
    }
    const uint32_t offset = GetBits(source, pos + 1, 10);
    uint32_t k = 0;
    while (GetBit(source, pos + 11 + k) == 1) ++k;
    const uint32_t length = 8 * k + GetBits(source, pos + 12 + k, 3) + 1;
    if (length > 1024) break;
    const uint32_t windowStart = out > 1024 ? out - 1024 : 0;
    std::memmove(dest + out, dest + windowStart + offset, length);
    out += length;
    pos += 15 + k;
  }
  *produced = out;
}

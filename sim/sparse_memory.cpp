#include "sim/sparse_memory.h"

#include <algorithm>
#include <cstring>

namespace ktq::sim {

void SparseMemory::Read(uint32_t address, uint8_t* out, size_t length) const {
  while (length > 0) {
    const uint32_t offset = address & (kPageSize - 1);
    const size_t n = std::min<size_t>(length, kPageSize - offset);
    auto it = pages_.find(address >> kPageBits);
    if (it == pages_.end())
      std::memset(out, fill_, n);
    else
      std::memcpy(out, it->second->data() + offset, n);
    out += n;
    length -= n;
    address += static_cast<uint32_t>(n);
  }
}

void SparseMemory::Write(uint32_t address, const uint8_t* data, size_t length) {
  while (length > 0) {
    const uint32_t offset = address & (kPageSize - 1);
    const size_t n = std::min<size_t>(length, kPageSize - offset);
    auto& page = pages_[address >> kPageBits];
    if (!page) {
      page = std::make_unique<Page>();
      page->fill(fill_);
    }
    std::memcpy(page->data() + offset, data, n);
    data += n;
    length -= n;
    address += static_cast<uint32_t>(n);
  }
}

uint32_t SparseMemory::ReadU32(uint32_t address) const {
  uint8_t b[4];
  Read(address, b, 4);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void SparseMemory::WriteU32(uint32_t address, uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  Write(address, b, 4);
}

}  // namespace ktq::sim

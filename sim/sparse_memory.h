// The chip's 32-bit address space as the virtual converter holds it: only
// pages that were written exist; everything else reads as the fill byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace ktq::sim {

class SparseMemory {
 public:
  explicit SparseMemory(uint8_t fill = 0) : fill_(fill) {}

  // Addresses wrap at 2^32, as the chip's address arithmetic does.
  void Read(uint32_t address, uint8_t* out, size_t length) const;
  void Write(uint32_t address, const uint8_t* data, size_t length);

  uint32_t ReadU32(uint32_t address) const;  // little-endian
  void WriteU32(uint32_t address, uint32_t value);

  size_t PageCount() const { return pages_.size(); }

 private:
  static constexpr uint32_t kPageBits = 12;
  static constexpr uint32_t kPageSize = 1u << kPageBits;
  using Page = std::array<uint8_t, kPageSize>;
  std::unordered_map<uint32_t, std::unique_ptr<Page>> pages_;
  uint8_t fill_;
};

}  // namespace ktq::sim

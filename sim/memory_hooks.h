// Registers that do more than hold a value: models add hooks here and the
// memory commands (UPDC_READ_FROM_MEMORY, UPDC_WRITE_TO_MEMORY) run them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace ktq::sim {

class VirtualConverter;

struct MemoryHooks {
  // After `length` bytes at `address` were read: counters move on, say.
  std::vector<std::function<void(VirtualConverter&, uint32_t address, size_t length)>> afterRead;
  // A write of one aligned 32-bit word: true when the hook stored it (a
  // write-one-to-clear register, say), false to leave it to plain memory.
  std::vector<std::function<bool(VirtualConverter&, uint32_t address, uint32_t value)>> writeWord;
};

}  // namespace ktq::sim

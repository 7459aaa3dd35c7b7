// Register, memory and DPCD reads as the reporters of the diagnostic dump
// use them: registers by name, "absent" for a register the database lacks
// or whose address (after any port offset) is 0.
#pragma once

#include <cstdint>
#include <string_view>

namespace ktq::diag {

// The address of `name` plus `offset`, or 0 when it is absent. A name the
// loaded database lacks counts as absent too: reading 0xFFFFFFFF plus an
// offset would reach some unrelated location.
uint32_t RegisterAt(std::string_view name, uint32_t offset = 0);

// `length` bytes at `address` (UPDC_READ_FROM_MEMORY). False when the
// address is 0 (nothing is sent) or the read fails; `dest` is then as the
// read left it.
bool ReadMemory(uint32_t address, uint32_t length, uint8_t* dest);

// One 32-bit register. False when absent or the read fails; `value` is 0
// then.
bool ReadWord(uint32_t address, uint32_t& value);
bool ReadNamed(std::string_view name, uint32_t& value, uint32_t offset = 0);

// The register's value, 0 when it is absent or its read fails.
uint32_t NamedOrZero(std::string_view name, uint32_t offset = 0);
uint32_t WordOrZero(uint32_t address);

// One byte of memory, 0 when the read fails.
uint8_t ByteOrZero(uint32_t address);

// DPCD bytes of the sink behind transmitter `port` (UPDC_READ_DPCD + port).
bool ReadDpcd(uint32_t port, uint32_t dpcdAddress, uint32_t length, uint8_t* dest);

inline uint32_t LittleEndian32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint16_t LittleEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace ktq::diag

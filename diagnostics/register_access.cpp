#include "diagnostics/register_access.h"

#include "chipdb/register_db.h"
#include "device/rc_command.h"

namespace ktq::diag {

uint32_t RegisterAt(std::string_view name, uint32_t offset) {
  const uint32_t base = GetRegisterAddress(name);
  if (base == 0 || base == ktq::chipdb::kNoRegister) return 0;
  return base + offset;
}

bool ReadMemory(uint32_t address, uint32_t length, uint8_t* dest) {
  if (address == 0) return false;
  return RCGetCommand(UPDC_READ_FROM_MEMORY, length, address, dest) == 0;
}

bool ReadWord(uint32_t address, uint32_t& value) {
  uint8_t bytes[4] = {};
  value = 0;
  if (!ReadMemory(address, sizeof bytes, bytes)) return false;
  value = LittleEndian32(bytes);
  return true;
}

bool ReadNamed(std::string_view name, uint32_t& value, uint32_t offset) {
  return ReadWord(RegisterAt(name, offset), value);
}

uint32_t NamedOrZero(std::string_view name, uint32_t offset) {
  uint32_t value = 0;
  ReadNamed(name, value, offset);
  return value;
}

uint32_t WordOrZero(uint32_t address) {
  uint32_t value = 0;
  ReadWord(address, value);
  return value;
}

uint8_t ByteOrZero(uint32_t address) {
  uint8_t byte = 0;
  if (!ReadMemory(address, 1, &byte)) return 0;
  return byte;
}

bool ReadDpcd(uint32_t port, uint32_t dpcdAddress, uint32_t length, uint8_t* dest) {
  return RCGetCommand(static_cast<uint8_t>(UPDC_READ_DPCD + port), length, dpcdAddress, dest) == 0;
}

}  // namespace ktq::diag

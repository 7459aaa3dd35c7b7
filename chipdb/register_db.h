// The register database of the identified chip: expands the embedded variant
// that matches the chip, and resolves register names and named memory
// locations to chip addresses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RegisterEntry {
  std::string name;
  uint32_t address = 0;
};

// Loads the database for chip type 4, 5 or 6 (choosing 4a/4b and 6a/6b by
// the chip's date code) and rebuilds the register list; types 5 and 6 also
// set the named-address table. 0, or 242 (0xF2) for any other type or when
// the build carries no database for the chip.
int32_t LoadRegisterDatabase(int32_t chipType);

// Every register of the loaded database, in record order. Empty before the
// first load.
const std::vector<RegisterEntry>& RegisterList();

// Address of the first register named exactly `name` (case-sensitive), or
// 0xFFFFFFFF when the loaded database has none.
uint32_t GetRegisterAddress(std::string_view name);

// Named memory location of the current main chip type (CHIP_TYPE_ADDR,
// CONFIG_MEMORY_ADDR, ADDR_TX0_BASE, ...); 0 for a key the table lacks.
uint32_t NamedAddressTable(std::string_view key);

// Distances between the register blocks of consecutive receive and transmit
// ports, derived from the loaded database at the end of every load.
void ComputePortStrides(uint32_t chipType);
uint32_t RxPortStride();
uint32_t TxPortStride();

namespace ktq::chipdb {

constexpr uint32_t kNoRegister = 0xFFFFFFFF;
constexpr uint32_t kChipDateCodeAddress = 0x20200D30;

// The full record of a register, for inspection tools. Texts point into the
// loaded database and stay valid until the next load.
struct FieldInfo {
  std::string_view name;
  std::string_view description;
  uint32_t lsb = 0;
  uint32_t width = 0;
  uint32_t reset = 0;  // unshifted
};
struct RegisterInfo {
  std::string_view name;
  std::string_view description;
  uint32_t address = 0;
  uint32_t reset = 0;
  std::vector<FieldInfo> fields;
};

// The record of the register that GetRegisterAddress(name) resolves; false
// when there is none.
bool DescribeRegister(std::string_view name, RegisterInfo& out);

// Id of the loaded variant ("5", "6a", ...); empty before the first load.
std::string_view LoadedVariant();

}  // namespace ktq::chipdb

// The "chip" section: what identifies a converter's chip to the host. The
// date code at 0x20200D30 (which selects the chip type and the register
// database), the firmware version word in CORE_MCU_FW_VERSION, the firmware
// name in the configuration memory and the chip information block in data
// memory. Without a "registers" section the chip gets the registers of the
// map that its type and date code select.
#include <cstring>
#include <optional>

#include "sim/chip_identity_model.h"
#include "sim/register_map_model.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/virtual_converter.h"

namespace ktq::sim {
namespace {

constexpr uint32_t kDateCodeAddress = 0x20200D30;
constexpr uint32_t kChipInfoAddress = 0x90000020;  // data memory + 0x20
constexpr uint32_t kFwNameOffset = 0xF0;            // from the configuration memory
constexpr size_t kFwNameArea = 16;
constexpr size_t kChipInfoSize = 8;

struct ChipDefaults {
  int type;
  uint32_t dateCode;
  uint32_t configMemory;  // CONFIG_MEMORY_ADDR of the type; 0: none
  uint32_t fwVersionAddress;  // where CORE_MCU_FW_VERSION sits when no map is placed
  uint32_t fwVersion;
  const char* fwName;
  uint8_t chipInfo[kChipInfoSize];
};

const ChipDefaults kDefaults[] = {
    {4, 0x20190608, 0, 0x20200230, 0x00000000, "", {}},
    {5, 0x20201105, 0x90000200, 0x20200230, 0x01220203, "TARVIK_FW", {0x00, 0x51, 0x50, 0x11, 21, 14, 0x00, 0x00}},
    {6, 0x20220315, 0x90000140, 0x2020A038, 0x02140101, "MONDELO_FW", {0x00, 0x62, 0x50, 0x21, 22, 9, 0x00, 0x00}},
};

struct ChipIdentity {
  const ChipDefaults* defaults = nullptr;  // null: no "chip" section
  uint32_t dateCode = 0;
  uint32_t fwVersion = 0;
  std::vector<uint8_t> fwName;
  std::vector<uint8_t> chipInfo;
};

// The register database variant that the host selects for this chip.
std::string VariantFor(int type, uint32_t dateCode) {
  if (type == 5) return "5";
  if (type == 6) return (dateCode & 0xFFFFFF00u) < 0x20220301u ? "6a" : "6b";
  return dateCode == 0x20190608u ? "4a" : "4b";
}

bool ParseChipInfo(const nlohmann::json& value, std::vector<uint8_t>& out, std::string& error) {
  if (!value.is_object()) {
    if (!ParseBytes(value, out, error)) return false;
    if (out.size() != kChipInfoSize) return (error = "expected 8 bytes"), false;
    return true;
  }
  if (!CheckKeys(value, {"id", "version", "year", "week"}, "chip_info", error)) return false;
  uint16_t id = 0;
  uint8_t version = 0, week = 0;
  uint16_t year = 0;
  if ((value.contains("id") && !ParseUnsignedAs(value["id"], id, error)) ||
      (value.contains("version") && !ParseUnsignedAs(value["version"], version, error)) ||
      (value.contains("year") && !ParseUnsignedAs(value["year"], year, error)) ||
      (value.contains("week") && !ParseUnsignedAs(value["week"], week, error)))
    return false;
  if (year != 0 && (year < 2000 || year > 2255)) return (error = "year: expected 2000 to 2255, or 0 for none"), false;
  out = {0x00, static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), version,
         static_cast<uint8_t>(year == 0 ? 0 : year - 2000), week, 0x00, 0x00};
  return true;
}

bool ParseChip(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!CheckKeys(value, {"type", "date_code", "fw_version", "fw_name", "chip_info"}, "chip", error)) return false;
  auto& chip = c.Extension<ChipIdentity>();
  uint32_t type = 0;
  if (!value.contains("type") || !ParseUnsignedAs(value["type"], type, error)) {
    error = "chip: type: expected 4, 5 or 6";
    return false;
  }
  for (const ChipDefaults& d : kDefaults) {
    if (static_cast<uint32_t>(d.type) == type) chip.defaults = &d;
  }
  if (!chip.defaults) {
    error = "chip: type: expected 4, 5 or 6";
    return false;
  }
  const ChipDefaults& d = *chip.defaults;
  chip.dateCode = d.dateCode;
  chip.fwVersion = d.fwVersion;
  chip.fwName.assign(d.fwName, d.fwName + std::strlen(d.fwName));
  chip.chipInfo.assign(d.chipInfo, d.chipInfo + kChipInfoSize);
  if (value.contains("date_code") && !ParseUnsignedAs(value["date_code"], chip.dateCode, error))
    return (error = "chip: date_code: " + error), false;
  if (value.contains("fw_version") && !ParseUnsignedAs(value["fw_version"], chip.fwVersion, error))
    return (error = "chip: fw_version: " + error), false;
  if (d.configMemory == 0 && (value.contains("fw_name") || value.contains("chip_info"))) {
    error = "chip: chip type 4 has no configuration or data memory for fw_name and chip_info";
    return false;
  }
  if (value.contains("fw_name")) {
    const auto& name = value["fw_name"];
    if (!name.is_string() || name.get<std::string>().size() > kFwNameArea) {
      error = "chip: fw_name: expected a text of at most 16 bytes";
      return false;
    }
    const std::string text = name.get<std::string>();
    chip.fwName.assign(text.begin(), text.end());
  }
  if (value.contains("chip_info") && !ParseChipInfo(value["chip_info"], chip.chipInfo, error))
    return (error = "chip: chip_info: " + error), false;
  return true;
}

bool ChooseRegisterMap(VirtualConverter& c, std::string&) {
  const auto& chip = c.Extension<ChipIdentity>();
  auto& registers = c.Extension<RegisterMapConfig>();
  if (chip.defaults && registers.mapFile.empty())
    registers.mapFile = MapFileForVariant(VariantFor(chip.defaults->type, chip.dateCode));
  return true;
}

bool WriteIdentity(VirtualConverter& c, std::string& error) {
  const auto& chip = c.Extension<ChipIdentity>();
  if (!chip.defaults) return true;
  const ChipDefaults& d = *chip.defaults;
  if (const regmap::Map* map = PlacedRegisterMap(c); map && map->chipType != d.type) {
    error = "chip: type " + std::to_string(d.type) + " does not match the register map of chip type " +
            std::to_string(map->chipType);
    return false;
  }
  c.Memory().WriteU32(kDateCodeAddress, chip.dateCode);
  c.Memory().WriteU32(PlacedRegisterAddress(c, "CORE_MCU_FW_VERSION").value_or(d.fwVersionAddress), chip.fwVersion);
  if (d.configMemory != 0) {
    uint8_t area[kFwNameArea] = {};
    std::memcpy(area, chip.fwName.data(), chip.fwName.size());
    c.Memory().Write(d.configMemory + kFwNameOffset, area, sizeof area);
    c.Memory().Write(kChipInfoAddress, chip.chipInfo.data(), chip.chipInfo.size());
  }
  return true;
}

}  // namespace

void SetFirmwareVersion(VirtualConverter& c, uint32_t version) {
  const auto& chip = c.Extension<ChipIdentity>();
  const uint32_t fallback = chip.defaults ? chip.defaults->fwVersionAddress : 0x20200230;
  c.Memory().WriteU32(PlacedRegisterAddress(c, "CORE_MCU_FW_VERSION").value_or(fallback), version);
}

void InstallChipIdentityModel(SimRegistry& registry) {
  registry.AddConverterSection("chip", ParseChip);
  registry.AddMemoryInitialiser(kChooseRegisterMapOrder, ChooseRegisterMap);
  registry.AddMemoryInitialiser(kChipIdentityOrder, WriteIdentity);
}

}  // namespace ktq::sim

// The "registers" section: every register of a map source placed in the
// converter's memory at its reset value, then the per-name overrides.
#include "sim/register_map_model.h"

#include "sim/data_dir.h"
#include "sim/map_cache.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/virtual_converter.h"

namespace ktq::sim {

std::string MapFileForVariant(const std::string& variant) {
  return SimDataDir() + "/chipdb/maps/variant-" + variant + ".map";
}

const regmap::Map* PlacedRegisterMap(VirtualConverter& converter) {
  const auto& placed = converter.Extension<RegisterMapConfig>().placed;
  return placed && !placed->registers.empty() ? placed.get() : nullptr;
}

std::optional<uint32_t> PlacedRegisterAddress(VirtualConverter& converter, const std::string& name) {
  if (const regmap::Map* map = PlacedRegisterMap(converter)) {
    for (const regmap::Register& r : map->registers) {
      if (r.name == name) return r.address;
    }
  }
  return std::nullopt;
}

namespace {

bool IsKnownVariant(const std::string& v) { return v == "5" || v == "6a" || v == "6b" || v == "4a" || v == "4b"; }

bool ParseRegisters(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!CheckKeys(value, {"variant", "map_file", "overrides"}, "registers", error)) return false;
  auto& config = c.Extension<RegisterMapConfig>();
  if (value.contains("variant") == value.contains("map_file")) {
    error = "registers: give either \"variant\" or \"map_file\"";
    return false;
  }
  if (value.contains("variant")) {
    const auto& v = value["variant"];
    if (!v.is_string() || !IsKnownVariant(v.get<std::string>())) {
      error = "registers: variant: expected \"5\", \"6a\", \"6b\", \"4a\" or \"4b\"";
      return false;
    }
    config.mapFile = MapFileForVariant(v.get<std::string>());
  } else {
    const auto& f = value["map_file"];
    if (!f.is_string() || f.get<std::string>().empty()) {
      error = "registers: map_file: expected a path";
      return false;
    }
    config.mapFile = f.get<std::string>();
  }
  if (value.contains("overrides")) {
    const auto& overrides = value["overrides"];
    if (!overrides.is_object()) {
      error = "registers: overrides: expected an object of register name: value";
      return false;
    }
    for (const auto& item : overrides.items()) {
      uint32_t v = 0;
      if (!ParseUnsignedAs(item.value(), v, error)) {
        error = "registers: overrides: " + item.key() + ": " + error;
        return false;
      }
      config.overrides.emplace_back(item.key(), v);
    }
  }
  return true;
}

bool PlaceRegisters(VirtualConverter& c, std::string& error) {
  auto& config = c.Extension<RegisterMapConfig>();
  if (config.mapFile.empty()) return true;
  std::string parseError;
  std::shared_ptr<const regmap::Map> map = LoadRegisterMap(config.mapFile, parseError);
  if (!map) {
    error = "registers: " + parseError;
    return false;
  }
  for (const regmap::Register& r : map->registers) c.Memory().WriteU32(r.address, r.reset);
  config.placed = std::move(map);
  for (const auto& [name, value] : config.overrides) {
    const std::optional<uint32_t> address = PlacedRegisterAddress(c, name);
    if (!address) {
      error = "registers: overrides: no register " + name + " in " + config.mapFile;
      return false;
    }
    c.Memory().WriteU32(*address, value);
  }
  return true;
}

}  // namespace

void InstallRegisterMapModel(SimRegistry& registry) {
  registry.AddConverterSection("registers", ParseRegisters);
  registry.AddMemoryInitialiser(kPlaceRegistersOrder, PlaceRegisters);
}

}  // namespace ktq::sim

// Registers of the virtual converter, placed from the register map sources
// (read with the map parser, never through the compiled databases, so that a
// fault in the database code cannot hide itself in tests).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/regmap/regmap.h"

namespace ktq::sim {

class VirtualConverter;

// The map source of a database variant ("5", "6a", "6b", "4a", "4b") in the
// source tree.
std::string MapFileForVariant(const std::string& variant);

// What the "registers" section asked for, kept per converter until the
// memory initialisers run.
struct RegisterMapConfig {
  std::string mapFile;  // empty: no registers placed
  std::vector<std::pair<std::string, uint32_t>> overrides;  // by register name, in scenario order
  std::shared_ptr<const regmap::Map> placed;  // the map once placed
};

// The map placed in the converter, or null when none was.
const regmap::Map* PlacedRegisterMap(VirtualConverter& converter);

// The address of `name` in the placed map; none without a map or register.
std::optional<uint32_t> PlacedRegisterAddress(VirtualConverter& converter, const std::string& name);

// Memory-initialiser orders: the identity model picks a default map before
// the registers are placed, and writes its words after them.
constexpr int kChooseRegisterMapOrder = 100;
constexpr int kPlaceRegistersOrder = 200;
constexpr int kChipIdentityOrder = 300;

}  // namespace ktq::sim

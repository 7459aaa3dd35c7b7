// The register database variants compiled into the program. The build packs
// chipdb/maps/variant-*.map with ktq-regdb and compiles the result (build
// tree: chipdb/data/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ktq::chipdb {

struct EmbeddedVariant {
  const char* id;  // "5", "6a", "6b", "4a", "4b"
  int chipType;
  uint32_t recordCount;
  uint32_t recordsBits;
  uint32_t nameBase;
  uint32_t namesBits;
  const uint8_t* records;  // compressed records stream
  size_t recordsBytes;
  const uint8_t* names;  // compressed names stream
  size_t namesBytes;
};

// The variant with this id, or nullptr when the build carries none.
const EmbeddedVariant* FindEmbeddedVariant(std::string_view id);

}  // namespace ktq::chipdb

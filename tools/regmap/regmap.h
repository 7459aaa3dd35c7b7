// Parser for the register map sources (format: docs/register-maps.md).
// Used by the database packer and by the virtual converter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace regmap {

struct Field {
  std::string name;
  std::string description;
  uint32_t lsb = 0;
  uint32_t width = 0;
  uint32_t reset = 0;  // unshifted
};

struct Register {
  std::string name;
  std::string description;
  uint32_t address = 0;
  uint32_t reset = 0;  // OR of the fields' resets at their positions
  std::vector<Field> fields;
};

struct Map {
  std::string variant;  // "5", "6a", "6b", "4a", "4b"
  int chipType = 0;
  uint32_t nameBase = 0;
  std::vector<Register> registers;  // in emission order
  std::vector<std::string> files;   // every file read, the top one first
};

// Parses a top-level map file and everything it includes. On error returns
// false and sets `error` to "FILE:LINE: message".
bool ParseMapFile(const std::string& path, Map& out, std::string& error);
// The same for the text of a top-level file that need not exist: messages
// name `path`, and includes are found beside it.
bool ParseMapText(const std::string& text, const std::string& path, Map& out, std::string& error);

}  // namespace regmap

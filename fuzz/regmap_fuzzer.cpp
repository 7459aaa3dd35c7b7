// Fuzzes the register map parser with arbitrary text, as the top file of a
// scratch folder that holds a small block file the input may include.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "tools/regmap/regmap.h"

namespace {

// Made on first use, removed when the fuzzer exits.
struct ScratchFolder {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("ktq-regmap-fuzz-" + std::to_string(::getpid()));
  ScratchFolder() {
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "blocks.map") << "template B\n  reg B{n}_CTRL +0x0 \"b\"\n    field EN 0 1 1 \"e\"\nend\n";
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

const std::filesystem::path& Scratch() {
  static const ScratchFolder folder;
  return folder.dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string top = (Scratch() / "top.map").string();
  regmap::Map map;
  std::string error;
  regmap::ParseMapText(std::string(reinterpret_cast<const char*>(data), size), top, map, error);
  return 0;
}

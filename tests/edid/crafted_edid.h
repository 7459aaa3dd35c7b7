// The EDIDs the project crafts for its tests (tests/edid/data/NAME.hex), as
// bytes or as a binary file for whatever reads EDID files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "tests/edid/hex_file.h"
#include "tests/support/test_dir.h"

namespace ktq::test {

inline std::vector<uint8_t> CraftedEdid(const std::string& name) {
  return ReadHexFile(KTQ_SOURCE_DIR "/tests/edid/data/" + name + ".hex");
}

// The file is the running test's own: CTest runs the cases in parallel.
inline std::string CraftedEdidFile(const std::string& name) {
  const std::vector<uint8_t> bytes = CraftedEdid(name);
  const std::string path = ::ktq::testing::TestPath("edid_" + name + ".bin");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
  return path;
}

}  // namespace ktq::test

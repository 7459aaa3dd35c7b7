// Crafted EDIDs are kept as hex text: two-digit bytes separated by blanks,
// '#' starting a comment that runs to the line end.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ktq::test {

// Throws when the file cannot be opened: an empty result would pass for an
// EDID of no bytes and fail far from the cause.
inline std::vector<uint8_t> ReadHexFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open the hex file " + path);
  std::vector<uint8_t> bytes;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string word;
    while (words >> word) bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
  }
  return bytes;
}

}  // namespace ktq::test

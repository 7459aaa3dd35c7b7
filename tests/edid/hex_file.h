// Crafted EDIDs are kept as hex text: two-digit bytes separated by blanks,
// '#' starting a comment that runs to the line end.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ktq::test {

inline std::vector<uint8_t> ReadHexFile(const std::string& path) {
  std::ifstream in(path);
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

// Builds small EDIDs for tests: a valid base block (manufacturer ABC, product
// 1234, 2020 model, every standard timing slot empty, all descriptors zero)
// plus extension blocks, with the checksums set when the bytes are taken.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace ktq::test {

class EdidBuilder {
 public:
  explicit EdidBuilder(size_t extensionBlocks = 0) : bytes_(128 * (1 + extensionBlocks), 0) {
    Set(0, {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00});
    Set(8, {0x04, 0x43, 0x34, 0x12});  // "ABC", product 0x1234
    Set(17, {30});                      // 1990 + 30
    Set(18, {0x01, 0x03});              // version 1.3
    for (size_t i = 38; i < 54; ++i) bytes_[i] = 0x01;
    Set(126, {static_cast<uint8_t>(extensionBlocks)});
  }

  // Writes bytes at an offset of the whole EDID (block k starts at 128 k).
  EdidBuilder& Set(size_t offset, std::initializer_list<uint8_t> values) {
    for (uint8_t v : values) bytes_.at(offset++) = v;
    return *this;
  }
  EdidBuilder& Set(size_t offset, const std::vector<uint8_t>& values) {
    for (uint8_t v : values) bytes_.at(offset++) = v;
    return *this;
  }
  EdidBuilder& SetText(size_t offset, const std::string& text) {
    for (char c : text) bytes_.at(offset++) = static_cast<uint8_t>(c);
    return *this;
  }

  // A checksum of this block that the builder must leave alone (to test a
  // wrong one).
  EdidBuilder& KeepChecksum(size_t block) {
    kept_.push_back(block);
    return *this;
  }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out = bytes_;
    for (size_t block = 0; block < out.size() / 128; ++block) {
      bool keep = false;
      for (size_t k : kept_) keep = keep || k == block;
      if (keep) continue;
      uint8_t sum = 0;
      for (size_t i = 0; i < 127; ++i) sum = static_cast<uint8_t>(sum + out[128 * block + i]);
      out[128 * block + 127] = static_cast<uint8_t>(0x100 - sum);
    }
    return out;
  }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<size_t> kept_;
};

// Test texts are written with "\n" line ends; the reports use "\r\n".
inline std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace ktq::test

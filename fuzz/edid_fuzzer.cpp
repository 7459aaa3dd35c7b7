// Fuzzes the EDID decoder and the hex listing with arbitrary bytes of any
// length. libFuzzer hands over an exact-size buffer, so ASan reports any read
// past the EDID's bytes; the reader's zero-padded 512-byte form is fuzzed too.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics/edid_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text;
  DecodeEdid(data, static_cast<uint32_t>(size > UINT32_MAX ? UINT32_MAX : size), text);
  ktq::EdidTextFromBytes(std::span<const uint8_t>(data, size));

  std::vector<uint8_t> buffer(ktq::kEdidBufferSize, 0);
  std::memcpy(buffer.data(), data, size < buffer.size() ? size : buffer.size());
  ktq::EdidTextFromBytes(buffer);
  return 0;
}

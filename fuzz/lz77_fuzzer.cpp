// Input: capacity (2 bytes, little-endian), unused bits of the last byte
// (low 3 bits of 1 byte), then the stream. The whole input is also
// compressed and expanded again, which must give it back unchanged.
#include "chipdb/lz77.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t capacity = data[0] | (size_t{data[1]} << 8);
  const size_t streamBytes = size - 3;
  const uint64_t bits = streamBytes * 8 - (streamBytes ? (data[2] & 7) : 0);
  // Exact-size copies so that AddressSanitizer sees any access past the ends.
  std::vector<uint8_t> stream(data + 3, data + size);
  std::vector<uint8_t> out(capacity);
  const auto result = ktq::lz77::Decompress(stream.data(), stream.size(), bits, out.data(), out.size());
  if (result.produced > capacity || result.bitPosition > bits) std::abort();

  const auto packed = ktq::lz77::Compress(data, size);
  std::vector<uint8_t> back(size);
  const auto again = ktq::lz77::Decompress(packed.bytes.data(), packed.bytes.size(),
                                           packed.lengthInBits, back.data(), back.size());
  if (again.error != ktq::lz77::DecodeError::kNone || again.produced != size ||
      (size && std::memcmp(back.data(), data, size) != 0)) {
    std::abort();
  }
  return 0;
}

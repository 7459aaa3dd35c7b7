// The LZ77 bit-stream format of the embedded register databases.
//
// A stream is a sequence of tokens packed least significant bit first (bit k
// is bit k%8 of byte k/8; a multi-bit field's bit i is the stream bit start+i):
//   literal: 0, then the byte (8 bits)                         9 bits
//   match:   1, offset (10 bits), length code                  15 + k bits
// The offset counts from the window start, max(0, produced - 1024), not back
// from the current position. The length code is k one-bits, a zero bit and
// 3 bits v; length = 8k + v + 1 (1 to 1024). The copied range lies wholly in
// the bytes already produced. The stream's length is counted in bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t MAX_WND_SIZE = 1024;

// Expands `lengthInBits` bits of `source` into `dest` and stores the number of
// bytes produced. `dest` is not bounded: the caller sizes it for the expected
// output. A corrupt stream stops the expansion at the faulty token and
// `produced` counts the bytes written before it; callers that need to know
// why use ktq::lz77::Decompress.
void LZ77Decompress(const uint8_t* source, uint32_t lengthInBits, uint8_t* dest,
                    uint32_t* produced);

namespace ktq::lz77 {

enum class DecodeError {
  kNone,
  kSourceTooShort,      // the bit length runs past the source bytes
  kTruncatedToken,      // a token is cut by the end of the stream
  kLengthTooLong,       // match length above MAX_WND_SIZE
  kOffsetBeyondOutput,  // match copies bytes not yet produced
  kOutputOverflow,      // output would exceed the destination's capacity
};

// A fixed English text for each error, e.g. for "unpack: <text>".
const char* DecodeErrorText(DecodeError error);

struct DecodeResult {
  DecodeError error = DecodeError::kNone;
  size_t produced = 0;       // bytes written before the stop
  uint64_t bitPosition = 0;  // start of the faulty token, or the end
};

// Bounded expansion: never reads past `sourceBytes` or writes past
// `capacity`, whatever the stream holds. A valid stream writes exactly the
// bytes it produces; after an error, bytes past `produced` (up to 64, within
// `capacity`) may have been written too. No allocation.
DecodeResult Decompress(const uint8_t* source, size_t sourceBytes, uint64_t lengthInBits,
                        uint8_t* dest, size_t capacity);

struct Compressed {
  std::vector<uint8_t> bytes;  // the last byte may be partly used
  uint64_t lengthInBits = 0;
};

// Encodes `data` as a stream that Decompress expands back to it.
Compressed Compress(const uint8_t* data, size_t size);

}  // namespace ktq::lz77

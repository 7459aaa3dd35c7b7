#include "chipdb/lz77.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace ktq::lz77 {
namespace {

constexpr uint32_t kOffsetBits = 10;
constexpr uint32_t kMatchHeaderBits = 1 + kOffsetBits;  // flag + offset
constexpr uint32_t kLiteralBits = 9;
constexpr uint32_t kMinMatchBits = kMatchHeaderBits + 1 + 3;
// A run of 128 one-bits already means a length above MAX_WND_SIZE.
constexpr uint32_t kMaxLengthPrefix = 128;
// Bits that a Peek is guaranteed to deliver (64 minus the worst shift).
constexpr uint32_t kPeekBits = 57;
// Short matches are copied as one fixed-size block of 16 or 64 bytes, which
// compiles to a few vector moves instead of a memcpy call. Every token
// yields at least one byte per 15 bits, so with kFastPathBits bits left in a
// valid stream a block's surplus lies inside the output still to come.
constexpr size_t kShortCopy = 16;
constexpr size_t kMediumCopy = 64;
constexpr uint64_t kFastPathBits = 64 + 15 * kMediumCopy;

// Up to 64 stream bits from bit `pos`, least significant first; bits past the
// source's end read as 0.
inline uint64_t Peek(const uint8_t* source, size_t sourceBytes, uint64_t pos) {
  const uint64_t byte = pos >> 3;
  uint64_t word = 0;
  if (byte + 8 <= sourceBytes) {
    std::memcpy(&word, source + byte, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  } else {
    for (uint64_t i = 0; byte + i < sourceBytes && i < 8; ++i) {
      word |= static_cast<uint64_t>(source[byte + i]) << (8 * i);
    }
  }
  return word >> (pos & 7);
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Copies `chunks` 16-byte chunks, all loaded before any is stored. Spelled
// as vector moves: a plain fixed-size memcpy of 64 bytes may become a slow
// string instruction.
template <size_t chunks>
inline void CopyBlock(uint8_t* to, const uint8_t* from) {
  using Chunk = uint8_t __attribute__((vector_size(kShortCopy)));
  Chunk block[chunks];
  for (size_t i = 0; i < chunks; ++i) std::memcpy(&block[i], from + i * kShortCopy, kShortCopy);
  for (size_t i = 0; i < chunks; ++i) std::memcpy(to + i * kShortCopy, &block[i], kShortCopy);
}

// The hot loop for the bulk of a stream. It runs while more than
// kFastPathBits bits remain (so every 8-byte load lies inside the source,
// and a valid stream still owes at least 64 bytes of output) and while any
// token fits the destination. It returns at the first token it does not
// handle (a length prefix longer than its bit buffer, a copy from outside
// the output), leaving that token to the careful path.
void DecodeFast(const uint8_t* source, uint64_t fastEnd, uint8_t* dest, size_t capacity,
                uint64_t& pos, size_t& out) {
  if (capacity < MAX_WND_SIZE + kMediumCopy) return;
  const size_t outLimit = capacity - MAX_WND_SIZE - kMediumCopy;
  uint64_t bits = 0;
  uint32_t available = 0;
  while (pos < fastEnd && out <= outLimit) {
    if (available < kPeekBits) {
      bits = Load64(source + (pos >> 3)) >> (pos & 7);
      available = 64 - static_cast<uint32_t>(pos & 7);
    }
    if ((bits & 1) == 0) {
      dest[out++] = static_cast<uint8_t>(bits >> 1);
      bits >>= kLiteralBits;
      available -= kLiteralBits;
      pos += kLiteralBits;
      continue;
    }
    const uint32_t k = static_cast<uint32_t>(std::countr_one(bits >> kMatchHeaderBits));
    const uint32_t tokenBits = kMinMatchBits + k;
    if (tokenBits > available || tokenBits > kPeekBits) return;
    const size_t length = 8 * size_t{k} + ((bits >> (kMatchHeaderBits + k + 1)) & 7) + 1;
    const size_t windowStart = out > MAX_WND_SIZE ? out - MAX_WND_SIZE : 0;
    const size_t from = windowStart + static_cast<size_t>((bits >> 1) & (MAX_WND_SIZE - 1));
    if (from + length > out) return;
    if (length <= kShortCopy && from + kShortCopy <= out) {
      // One fixed-size block of produced bytes; its surplus past `length`
      // lands in output that the rest of the stream overwrites.
      CopyBlock<1>(dest + out, dest + from);
    } else if (length <= kMediumCopy && from + kMediumCopy <= out) {
      CopyBlock<kMediumCopy / kShortCopy>(dest + out, dest + from);
    } else {
      std::memcpy(dest + out, dest + from, length);
    }
    out += length;
    bits >>= tokenBits;
    available -= tokenBits;
    pos += tokenBits;
  }
}

}  // namespace

const char* DecodeErrorText(DecodeError error) {
  switch (error) {
    case DecodeError::kNone: return "no error";
    case DecodeError::kSourceTooShort: return "bit length runs past the end of the stream's bytes";
    case DecodeError::kTruncatedToken: return "token cut by the end of the stream";
    case DecodeError::kLengthTooLong: return "match length above 1024 (length<=MAX_WND_SIZE)";
    case DecodeError::kOffsetBeyondOutput: return "match copies bytes not yet produced";
    case DecodeError::kOutputOverflow: return "output exceeds the destination's capacity";
  }
  return "unknown error";
}

DecodeResult Decompress(const uint8_t* source, size_t sourceBytes, uint64_t lengthInBits,
                        uint8_t* dest, size_t capacity) {
  DecodeResult result;
  if ((lengthInBits + 7) / 8 > sourceBytes) {
    result.error = DecodeError::kSourceTooShort;
    return result;
  }
  uint64_t pos = 0;
  size_t out = 0;
  while (pos < lengthInBits) {
    const uint64_t remaining = lengthInBits - pos;
    if (remaining >= kFastPathBits) {
      const uint64_t start = pos;
      DecodeFast(source, lengthInBits - kFastPathBits, dest, capacity, pos, out);
      if (pos != start) continue;  // the careful path takes the token it stopped at
    }
    const uint64_t bits = Peek(source, sourceBytes, pos);
    result.bitPosition = pos;
    result.produced = out;
    if ((bits & 1) == 0) {
      if (remaining < kLiteralBits) {
        result.error = DecodeError::kTruncatedToken;
        return result;
      }
      if (out >= capacity) {
        result.error = DecodeError::kOutputOverflow;
        return result;
      }
      dest[out++] = static_cast<uint8_t>(bits >> 1);
      pos += kLiteralBits;
      continue;
    }
    if (remaining < kMinMatchBits) {
      result.error = DecodeError::kTruncatedToken;
      return result;
    }
    const size_t offset = static_cast<size_t>((bits >> 1) & (MAX_WND_SIZE - 1));
    // Length prefix: count the one-bits after the offset. Usually it fits in
    // the word already loaded; long runs continue from fresh loads.
    uint32_t k = static_cast<uint32_t>(std::countr_one(bits >> kMatchHeaderBits));
    if (k >= kPeekBits - kMatchHeaderBits) {
      k = kPeekBits - kMatchHeaderBits;
      for (;;) {
        const uint64_t more = Peek(source, sourceBytes, pos + kMatchHeaderBits + k);
        const uint32_t ones = static_cast<uint32_t>(std::countr_one(more));
        k += std::min(ones, kPeekBits);
        if (ones < kPeekBits || k >= kMaxLengthPrefix) break;
      }
    }
    if (k >= kMaxLengthPrefix) {
      result.error = remaining < kMatchHeaderBits + kMaxLengthPrefix ? DecodeError::kTruncatedToken
                                                                     : DecodeError::kLengthTooLong;
      return result;
    }
    const uint64_t tokenBits = kMinMatchBits + k;
    if (tokenBits > remaining) {
      result.error = DecodeError::kTruncatedToken;
      return result;
    }
    const uint64_t tail = k + 1 + 3 <= kPeekBits - kMatchHeaderBits
                              ? bits >> (kMatchHeaderBits + k + 1)
                              : Peek(source, sourceBytes, pos + kMatchHeaderBits + k + 1);
    const size_t length = 8 * size_t{k} + (tail & 7) + 1;
    const size_t windowStart = out > MAX_WND_SIZE ? out - MAX_WND_SIZE : 0;
    const size_t from = windowStart + offset;
    if (from + length > out) {
      result.error = DecodeError::kOffsetBeyondOutput;
      return result;
    }
    if (length > capacity - out) {
      result.error = DecodeError::kOutputOverflow;
      return result;
    }
    // The source range ends at or before `out`, so the ranges never overlap.
    std::memcpy(dest + out, dest + from, length);
    out += length;
    pos += tokenBits;
  }
  result.bitPosition = pos;
  result.produced = out;
  return result;
}

namespace {

class BitWriter {
 public:
  void Put(uint64_t value, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      if ((bits_ & 7) == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1) << (bits_ & 7));
      ++bits_;
    }
  }
  Compressed Take() { return Compressed{std::move(bytes_), bits_}; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t bits_ = 0;
};

struct Match {
  size_t length = 0;
  size_t from = 0;
};

constexpr uint32_t kHashBits = 16;
constexpr int32_t kNone = -1;
// Candidates examined per search. The window has at most 1024 positions, so
// this bounds nothing in practice but keeps pathological inputs linear.
constexpr int kChainLimit = 1024;

uint32_t Hash3(const uint8_t* p) {
  const uint32_t v = p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
  return (v * 2654435761u) >> (32 - kHashBits);
}

// The two fixed tables of a search, a quarter megabyte each, kept per thread
// and handed back empty: fresh ones for every call would map, fault in and
// fill new pages each time, which costs far more than the search itself on
// short inputs.
struct SearchTables {
  std::vector<int32_t> head3 = std::vector<int32_t>(size_t{1} << kHashBits, kNone);
  std::vector<int32_t> last2 = std::vector<int32_t>(65536, kNone);
};

SearchTables& ThreadTables() {
  thread_local SearchTables tables;
  return tables;
}

// Hash chains over 3-byte prefixes plus the last position of every byte pair,
// restricted to the window and to sources that end before the current byte.
// One finder per thread at a time (the tables are the thread's); it empties
// the slots it used when it goes, in time proportional to its input.
class MatchFinder {
 public:
  MatchFinder(const uint8_t* data, size_t size)
      : data_(data), size_(size), head3_(ThreadTables().head3), last2_(ThreadTables().last2), prev_(size, kNone) {}
  ~MatchFinder() {
    for (size_t pos = 0; pos + 2 <= size_; ++pos) {
      if (pos + 3 <= size_) head3_[Hash3(data_ + pos)] = kNone;
      last2_[Pair(pos)] = kNone;
    }
  }
  MatchFinder(const MatchFinder&) = delete;
  MatchFinder& operator=(const MatchFinder&) = delete;

  void Insert(size_t pos) {
    if (pos + 3 <= size_) {
      const uint32_t h = Hash3(data_ + pos);
      prev_[pos] = head3_[h];
      head3_[h] = static_cast<int32_t>(pos);
    }
    if (pos + 2 <= size_) last2_[Pair(pos)] = static_cast<int32_t>(pos);
  }

  Match Find(size_t pos) const {
    Match best;
    const size_t windowStart = pos > MAX_WND_SIZE ? pos - MAX_WND_SIZE : 0;
    const size_t maxLength = std::min<size_t>(MAX_WND_SIZE, size_ - pos);
    if (maxLength < 2) return best;
    if (maxLength >= 3) {
      int32_t candidate = head3_[Hash3(data_ + pos)];
      for (int steps = 0; candidate != kNone && steps < kChainLimit; ++steps) {
        const size_t from = static_cast<size_t>(candidate);
        if (from < windowStart) break;
        const size_t limit = std::min(maxLength, pos - from);
        if (limit > best.length && data_[from + best.length] == data_[pos + best.length]) {
          size_t n = 0;
          while (n < limit && data_[from + n] == data_[pos + n]) ++n;
          if (n > best.length) {
            best = {n, from};
            if (n == maxLength) break;
          }
        }
        candidate = prev_[from];
      }
    }
    if (best.length < 2) {
      const int32_t candidate = last2_[Pair(pos)];
      if (candidate != kNone) {
        const size_t from = static_cast<size_t>(candidate);
        if (from >= windowStart && from + 2 <= pos) best = {2, from};
      }
    }
    return best;
  }

 private:
  uint32_t Pair(size_t pos) const { return data_[pos] | (uint32_t{data_[pos + 1]} << 8); }

  const uint8_t* data_;
  size_t size_;
  std::vector<int32_t>& head3_;
  std::vector<int32_t>& last2_;
  std::vector<int32_t> prev_;
};

uint32_t MatchBits(size_t length) {
  return kMinMatchBits + static_cast<uint32_t>((length - 1) / 8);
}

// Bits saved by a match compared with spelling its bytes as literals.
int64_t Gain(size_t length) {
  return static_cast<int64_t>(length) * kLiteralBits - MatchBits(length);
}

}  // namespace

Compressed Compress(const uint8_t* data, size_t size) {
  BitWriter writer;
  MatchFinder finder(data, size);
  size_t pos = 0;
  Match pending = size > 0 ? finder.Find(0) : Match{};
  while (pos < size) {
    Match match = pending;
    if (Gain(match.length) > 0 && pos + 1 < size) {
      // Lazy evaluation: if the next position starts a better match, spend a
      // literal here and take that one instead.
      finder.Insert(pos);
      const Match next = finder.Find(pos + 1);
      if (Gain(next.length) > Gain(match.length) + static_cast<int64_t>(kLiteralBits)) {
        writer.Put(0, 1);
        writer.Put(data[pos], 8);
        ++pos;
        pending = next;
        continue;
      }
      for (size_t i = 1; i < match.length; ++i) finder.Insert(pos + i);
    } else if (Gain(match.length) > 0) {
      for (size_t i = 0; i < match.length; ++i) finder.Insert(pos + i);
    } else {
      finder.Insert(pos);
      writer.Put(0, 1);
      writer.Put(data[pos], 8);
      ++pos;
      pending = pos < size ? finder.Find(pos) : Match{};
      continue;
    }
    const size_t windowStart = pos > MAX_WND_SIZE ? pos - MAX_WND_SIZE : 0;
    const size_t lengthMinusOne = match.length - 1;
    writer.Put(1, 1);
    writer.Put(match.from - windowStart, kOffsetBits);
    for (size_t i = 0; i < lengthMinusOne / 8; ++i) writer.Put(1, 1);
    writer.Put(0, 1);
    writer.Put(lengthMinusOne & 7, 3);
    pos += match.length;
    pending = pos < size ? finder.Find(pos) : Match{};
  }
  return writer.Take();
}

}  // namespace ktq::lz77

void LZ77Decompress(const uint8_t* source, uint32_t lengthInBits, uint8_t* dest,
                    uint32_t* produced) {
  // Unbounded by contract; UINT32_MAX keeps the count representable.
  const auto result = ktq::lz77::Decompress(source, (uint64_t{lengthInBits} + 7) / 8, lengthInBits,
                                            dest, UINT32_MAX);
  *produced = static_cast<uint32_t>(result.produced);
}

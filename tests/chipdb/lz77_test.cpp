#include "chipdb/lz77.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using ktq::lz77::Compress;
using ktq::lz77::Decompress;
using ktq::lz77::DecodeError;

namespace {

// Builds streams token by token, independently of the encoder under test.
class StreamBuilder {
 public:
  StreamBuilder& Bits(uint64_t value, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(1u << (bits_ % 8));
      ++bits_;
    }
    return *this;
  }
  StreamBuilder& Literal(uint8_t byte) { return Bits(0, 1).Bits(byte, 8); }
  StreamBuilder& Literals(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) Literal(b);
    return *this;
  }
  // Match with the length code given as its parts: k one-bits, 0, v.
  StreamBuilder& MatchCode(uint32_t offset, uint32_t k, uint32_t v) {
    Bits(1, 1).Bits(offset, 10);
    for (uint32_t i = 0; i < k; ++i) Bits(1, 1);
    return Bits(0, 1).Bits(v, 3);
  }
  StreamBuilder& Match(uint32_t offset, uint32_t length) {
    return MatchCode(offset, (length - 1) / 8, (length - 1) % 8);
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  uint32_t bits() const { return static_cast<uint32_t>(bits_); }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t bits_ = 0;
};

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 256);
  return v;
}

// Expands with the bounded decoder into an exactly sized heap copy of the
// stream, so ASan sees any read past its end.
std::vector<uint8_t> Expand(const std::vector<uint8_t>& stream, uint64_t bits,
                            DecodeError expected = DecodeError::kNone, size_t capacity = 1 << 20) {
  std::vector<uint8_t> source(stream);
  std::vector<uint8_t> out(capacity);
  const auto r = Decompress(source.data(), source.size(), bits, out.data(), out.size());
  EXPECT_EQ(r.error, expected) << ktq::lz77::DecodeErrorText(r.error);
  out.resize(r.produced);
  return out;
}

TEST(Lz77Decode, LiteralBitOrderIsLeastSignificantFirst) {
  // Flag 0 in bit 0, then 0x41 in bits 1..8: bytes 0x82 0x00.
  uint8_t dest[4] = {};
  uint32_t produced = 99;
  const uint8_t stream[] = {0x82, 0x00};
  LZ77Decompress(stream, 9, dest, &produced);
  EXPECT_EQ(produced, 1u);
  EXPECT_EQ(dest[0], 0x41);

  // The same literal twice, the second straddling bytes 1 and 2:
  // bits 9..17 = 0, 1,0,0,0,0,0,1,0.
  const uint8_t two[] = {0x82, 0x04, 0x01};
  LZ77Decompress(two, 18, dest, &produced);
  EXPECT_EQ(produced, 2u);
  EXPECT_EQ(dest[1], 0x41);
}

TEST(Lz77Decode, PartialLastByteIgnoresTrailingBits) {
  // Bits 9..15 are all ones, which would start a match if they were read.
  const uint8_t stream[] = {0x82, 0xFE};
  EXPECT_EQ(Expand({stream, stream + 2}, 9), std::vector<uint8_t>{0x41});
}

TEST(Lz77Decode, EmptyStreamProducesNothing) {
  uint8_t dest[1] = {0xAA};
  uint32_t produced = 7;
  LZ77Decompress(nullptr, 0, dest, &produced);
  EXPECT_EQ(produced, 0u);
  EXPECT_EQ(dest[0], 0xAA);
}

TEST(Lz77Decode, OffsetCountsFromWindowStart) {
  // Before 1024 bytes exist the window starts at byte 0; afterwards it is
  // the last 1024 bytes: after 1500 bytes, offset 0 is byte 476.
  const auto prefix = Counting(1500);
  StreamBuilder early;
  early.Literals({prefix.begin(), prefix.begin() + 600}).Match(10, 5);
  auto out = Expand(early.bytes(), early.bits());
  ASSERT_EQ(out.size(), 605u);
  EXPECT_TRUE(std::equal(out.begin() + 600, out.end(), prefix.begin() + 10));

  StreamBuilder late;
  late.Literals(prefix).Match(0, 4).Match(1023, 1);
  out = Expand(late.bytes(), late.bits());
  ASSERT_EQ(out.size(), 1505u);
  EXPECT_TRUE(std::equal(out.begin() + 1500, out.begin() + 1504, prefix.begin() + 476));
  // After 1504 bytes the window starts at 480; offset 1023 is byte 1503.
  EXPECT_EQ(out[1504], out[1503]);
}

TEST(Lz77Decode, LengthCodes) {
  struct Case {
    uint32_t k, v, length, tokenBits;
  };
  const Case cases[] = {
      {0, 0, 1, 15}, {0, 7, 8, 15}, {1, 0, 9, 16}, {1, 7, 16, 16}, {127, 7, 1024, 142},
  };
  const auto prefix = Counting(1024);
  for (const Case& c : cases) {
    StreamBuilder s;
    s.Literals(prefix);
    const uint32_t before = s.bits();
    s.MatchCode(0, c.k, c.v);
    EXPECT_EQ(s.bits() - before, c.tokenBits);
    s.Literal(0xEE);  // the token must end exactly where the next begins
    const auto out = Expand(s.bytes(), s.bits());
    ASSERT_EQ(out.size(), 1024u + c.length + 1) << "k=" << c.k << " v=" << c.v;
    EXPECT_TRUE(std::equal(out.begin() + 1024, out.begin() + 1024 + c.length, prefix.begin()));
    EXPECT_EQ(out.back(), 0xEE);
  }
}

TEST(Lz77Decode, CorruptStreamsStopWithAnError) {
  struct Case {
    const char* what;
    StreamBuilder stream;
    int64_t bitsDelta;  // added to the builder's bit count
    size_t capacity;
    DecodeError error;
    size_t produced;
    uint64_t bitPosition;
  };
  const auto ten = Counting(10);
  std::vector<Case> cases;
  cases.push_back({"length above 1024", StreamBuilder().Literals(Counting(1024)).MatchCode(0, 128, 0),
                   0, 1 << 20, DecodeError::kLengthTooLong, 1024, 1024 * 9});
  cases.push_back({"match before any output", StreamBuilder().Match(0, 1), 0, 64,
                   DecodeError::kOffsetBeyondOutput, 0, 0});
  cases.push_back({"offset past the output", StreamBuilder().Literals(ten).Match(10, 1), 0, 64,
                   DecodeError::kOffsetBeyondOutput, 10, 90});
  cases.push_back({"match running into its own output", StreamBuilder().Literals(ten).Match(8, 3), 0,
                   64, DecodeError::kOffsetBeyondOutput, 10, 90});
  cases.push_back({"literal cut short", StreamBuilder().Literals(ten), -1, 64,
                   DecodeError::kTruncatedToken, 9, 81});
  cases.push_back({"match cut inside its length code", StreamBuilder().Literals(ten).Match(0, 9), -3,
                   64, DecodeError::kTruncatedToken, 10, 90});
  cases.push_back({"length prefix cut by the end", StreamBuilder().Literal(1).Bits(1, 1).Bits(0, 10).Bits(~0ull, 60), 0,
                   64, DecodeError::kTruncatedToken, 1, 9});
  cases.push_back({"literal beyond capacity", StreamBuilder().Literals(ten), 0, 9,
                   DecodeError::kOutputOverflow, 9, 81});
  cases.push_back({"match beyond capacity", StreamBuilder().Literals(ten).Match(0, 5), 0, 14,
                   DecodeError::kOutputOverflow, 10, 90});
  // The same faults in the middle of a long stream, where the decoder's bulk
  // loop is running rather than its careful end-of-stream path.
  const auto many = Counting(2000);
  cases.push_back({"mid-stream length above 1024",
                   StreamBuilder().Literals(many).MatchCode(0, 128, 0).Literals(many), 0, 1 << 20,
                   DecodeError::kLengthTooLong, 2000, 2000 * 9});
  cases.push_back({"mid-stream copy from the current position",
                   StreamBuilder().Literals(many).Match(1023, 2).Literals(many), 0, 1 << 20,
                   DecodeError::kOffsetBeyondOutput, 2000, 2000 * 9});
  cases.push_back({"mid-stream overflow", StreamBuilder().Literals(many).Match(0, 1024).Literals(many),
                   0, 2500, DecodeError::kOutputOverflow, 2000, 2000 * 9});
  cases.push_back({"bit length beyond the bytes", StreamBuilder().Literals(ten), 8, 64,
                   DecodeError::kSourceTooShort, 0, 0});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> source = c.stream.bytes();  // exact size for ASan
    std::vector<uint8_t> dest(c.capacity);
    const uint64_t bits = static_cast<uint64_t>(static_cast<int64_t>(c.stream.bits()) + c.bitsDelta);
    const auto r = Decompress(source.data(), source.size(), bits, dest.data(), dest.size());
    EXPECT_EQ(r.error, c.error) << ktq::lz77::DecodeErrorText(r.error);
    EXPECT_EQ(r.produced, c.produced);
    EXPECT_EQ(r.bitPosition, c.bitPosition);
  }
}

TEST(Lz77Decode, FourArgumentFormStopsAtACorruptToken) {
  StreamBuilder s;
  s.Literals({1, 2, 3}).Match(5, 2).Literal(9);
  std::vector<uint8_t> dest(16, 0xCC);
  uint32_t produced = 0;
  LZ77Decompress(s.bytes().data(), s.bits(), dest.data(), &produced);
  EXPECT_EQ(produced, 3u);
  EXPECT_EQ(dest[3], 0xCC);
}

std::vector<uint8_t> RoundTrip(const std::vector<uint8_t>& data, uint64_t* bits = nullptr) {
  const auto packed = Compress(data.data(), data.size());
  EXPECT_EQ(packed.bytes.size(), (packed.lengthInBits + 7) / 8);
  if (bits) *bits = packed.lengthInBits;
  return Expand(packed.bytes, packed.lengthInBits, DecodeError::kNone, data.size());
}

TEST(Lz77RoundTrip, VariedData) {
  std::mt19937 rng(12345);
  std::vector<std::vector<uint8_t>> inputs;
  inputs.push_back({});
  inputs.push_back({0x00});
  inputs.push_back({0x41, 0x41});
  inputs.push_back(std::vector<uint8_t>(5000, 0));
  std::vector<uint8_t> noise(20000);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  inputs.push_back(noise);
  std::vector<uint8_t> fewSymbols(30000);
  for (auto& b : fewSymbols) b = static_cast<uint8_t>("AB_\0"[rng() % 4]);
  inputs.push_back(fewSymbols);
  // Record-like: 792-byte records, mostly zero, with small varying words.
  std::vector<uint8_t> records(792 * 300, 0);
  for (size_t r = 0; r < 300; ++r) {
    for (size_t w = 0; w < 6 + (r % 9) * 6; ++w) {
      const uint32_t value = static_cast<uint32_t>(0x20200000 + r * 4 + (w % 6 == 3 ? w : rng() % 3));
      std::memcpy(&records[r * 792 + w * 4], &value, 4);
    }
  }
  inputs.push_back(records);
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "RX_ML_FRM" + std::to_string(i % 4) + "_CTRL" + std::to_string(i) + '\0';
  inputs.push_back({text.begin(), text.end()});

  for (const auto& input : inputs) {
    SCOPED_TRACE(input.size());
    EXPECT_EQ(RoundTrip(input), input);
  }
}

TEST(Lz77RoundTrip, UsesLongMatchesAcrossTheWholeWindow) {
  // 1024 distinct-ish bytes, then the same 1024 again: the second copy must
  // be one 1024-byte match (142 bits), not several shorter ones.
  std::mt19937 rng(7);
  std::vector<uint8_t> data(1024);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  data.insert(data.end(), data.begin(), data.end());
  uint64_t bits = 0;
  EXPECT_EQ(RoundTrip(data, &bits), data);
  EXPECT_LE(bits, 1024u * 9 + 142);

  // A long zero run doubles up to full-length matches: 64 KiB of zeros take
  // a few hundred bits, not 9 per byte.
  const std::vector<uint8_t> zeros(65536, 0);
  EXPECT_EQ(RoundTrip(zeros, &bits), zeros);
  EXPECT_LT(bits, 65536u / 1024 * 142 + 200);
}

}  // namespace

// Traces are read plain, gzip or xz, told by their first bytes; damaged or
// oversized data is refused, never half-read.
#include <zlib.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "sim/compressed_file.h"
#include "tests/support/ktq_run.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

std::string Gzip(const std::string& text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, text.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string Xz(const std::string& text) {
  const std::string path = TestPath("packed.xz");
  std::string error;
  EXPECT_TRUE(sim::WriteXzFile(path, text, error)) << error;
  return SlurpFile(path);
}

TEST(CompressedFileTest, PlainGzipAndXzReadAsTheSameText) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += std::to_string(i) + " OUT 01 00 0C\n";
  const std::string xz = Xz(text);
  const std::string gz = Gzip(text);
  EXPECT_LT(xz.size(), text.size() / 4);
  for (const std::string& data : {text, gz, xz, std::string()}) {
    std::string read, error;
    ASSERT_TRUE(sim::ExpandIfCompressed(data, read, error)) << error;
    EXPECT_EQ(read, data.empty() ? "" : text);
  }
  std::ofstream(TestPath("t.txt.gz"), std::ios::binary) << gz;
  std::string read, error;
  ASSERT_TRUE(sim::ReadPossiblyCompressedFile(TestPath("t.txt.gz"), read, error)) << error;
  EXPECT_EQ(read, text);
}

TEST(CompressedFileTest, DamagedMissingAndOversizedDataIsRefused) {
  std::string text(100000, 'x');
  const std::string xz = Xz(text);
  const std::string gz = Gzip(text);
  std::string flipped = xz;
  flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x55);
  const struct {
    std::string data;
    size_t limit;
    std::string error;
  } cases[] = {
      {xz.substr(0, xz.size() - 10), sim::kMaxExpandedSize, "damaged xz data"},
      {flipped, sim::kMaxExpandedSize, "damaged xz data"},
      {gz.substr(0, gz.size() - 10), sim::kMaxExpandedSize, "damaged gzip data"},
      {gz.substr(0, 2), sim::kMaxExpandedSize, "damaged gzip data"},
      {xz, 4096, "expands beyond 4096 bytes"},
      {gz, 4096, "expands beyond 4096 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    std::string read, error;
    EXPECT_FALSE(sim::ExpandIfCompressed(c.data, read, error, c.limit));
    EXPECT_EQ(error, c.error);
  }
  std::string read, error;
  EXPECT_FALSE(sim::ReadPossiblyCompressedFile(TestPath("absent.xz"), read, error));
  EXPECT_EQ(error, TestPath("absent.xz") + ": No such file or directory");
}

}  // namespace
}  // namespace ktq::testing

#include "tools/regdb/pack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "chipdb/register_record.h"
#include "tests/support/test_dir.h"

namespace fs = std::filesystem;
using namespace ktq::regdb;

namespace {

const std::string kSmallMap = std::string(KTQ_SOURCE_DIR) + "/tests/data/regmap/small.map";
const std::string kTool = std::string(KTQ_BINARY_DIR) + "/bin/ktq-regdb";

regmap::Map ParseSmall() {
  regmap::Map map;
  std::string error;
  EXPECT_TRUE(regmap::ParseMapFile(kSmallMap, map, error)) << error;
  return map;
}

std::string TextAt(const PackedVariant& p, uint32_t reference) {
  EXPECT_GE(reference, p.nameBase);
  EXPECT_LT(reference - p.nameBase, p.names.size());
  return reinterpret_cast<const char*>(p.names.data()) + (reference - p.nameBase);
}

TEST(RegdbPack, RecordLayout) {
  const regmap::Map map = ParseSmall();
  PackedVariant p;
  std::string error;
  ASSERT_TRUE(PackVariant(map, p, error)) << error;
  EXPECT_EQ(p.variant, "6a");
  EXPECT_EQ(p.nameBase, 0x04FF6FF8u);
  ASSERT_EQ(p.recordCount, map.registers.size());
  ASSERT_EQ(p.records.size(), map.registers.size() * 792);

  // The clock detector with its eight fields, word by word.
  size_t index = 0;
  while (map.registers[index].name != "CORE_CLK_SYS_CLK_FREQ_DET") ++index;
  const uint8_t* rec = p.records.data() + index * kRecordBytes;
  EXPECT_EQ(TextAt(p, RecordWord(rec, 0)), "CORE_CLK_SYS_CLK_FREQ_DET");
  EXPECT_EQ(TextAt(p, RecordWord(rec, 1)), "System clock frequency detector.");
  EXPECT_EQ(RecordWord(rec, 2), 0u);
  EXPECT_EQ(RecordWord(rec, 3), 0x20200000u);
  EXPECT_EQ(RecordWord(rec, 4), 0x0DF24B18u);
  EXPECT_EQ(RecordWord(rec, 5), 8u);
  struct F {
    const char* name;
    uint32_t lsb, width, reset;
  };
  const F fields[] = {{"REF_CNT", 0, 6, 24},     {"MON_CNT", 6, 9, 300},   {"MARGIN", 16, 4, 2},
                      {"STABLE_CNT", 20, 5, 31}, {"SOFT_RST", 25, 1, 0},   {"REF_CLK_EN", 26, 1, 1},
                      {"USB2_UTMI_CLK_EN", 27, 1, 1}, {"STABLE", 31, 1, 0}};
  for (size_t f = 0; f < 8; ++f) {
    SCOPED_TRACE(fields[f].name);
    EXPECT_EQ(TextAt(p, RecordWord(rec, 6 + 6 * f)), fields[f].name);
    EXPECT_EQ(RecordWord(rec, 8 + 6 * f), 0u);
    EXPECT_EQ(RecordWord(rec, 9 + 6 * f), fields[f].lsb);
    EXPECT_EQ(RecordWord(rec, 10 + 6 * f), fields[f].width);
    EXPECT_EQ(RecordWord(rec, 11 + 6 * f), fields[f].reset);
  }
  EXPECT_EQ(TextAt(p, RecordWord(rec, 7)),
            "Frequency of crystal clock (in MHz), which is the reference period.");
  for (size_t w = 6 + 8 * 6; w < kRecordWords; ++w) EXPECT_EQ(RecordWord(rec, w), 0u) << w;

  // Equal texts are stored once: every DATA field name shares a reference.
  uint32_t dataRef = 0;
  for (size_t r = 0; r < p.recordCount; ++r) {
    const uint8_t* other = p.records.data() + r * kRecordBytes;
    if (map.registers[r].fields[0].name != "DATA") continue;
    if (!dataRef) dataRef = RecordWord(other, 6);
    EXPECT_EQ(RecordWord(other, 6), dataRef);
  }
  EXPECT_NE(dataRef, 0u);
}

TEST(RegdbPack, StreamsExpandBackToTheMap) {
  regmap::Map map = ParseSmall();
  PackedVariant p;
  std::string error;
  ASSERT_TRUE(PackVariant(map, p, error)) << error;
  std::vector<uint8_t> records(p.records.size()), names(p.names.size());
  auto r = ktq::lz77::Decompress(p.recordsStream.bytes.data(), p.recordsStream.bytes.size(),
                                 p.recordsStream.lengthInBits, records.data(), records.size());
  ASSERT_EQ(r.error, ktq::lz77::DecodeError::kNone);
  ASSERT_EQ(r.produced, records.size());
  r = ktq::lz77::Decompress(p.namesStream.bytes.data(), p.namesStream.bytes.size(),
                            p.namesStream.lengthInBits, names.data(), names.size());
  ASSERT_EQ(r.produced, names.size());
  EXPECT_EQ(CompareWithMap(map, records.data(), records.size(), names.data(), names.size()), "");

  // The comparison notices a changed address and a changed field text.
  map.registers[3].address += 4;
  EXPECT_NE(CompareWithMap(map, records.data(), records.size(), names.data(), names.size()), "");
  map.registers[3].address -= 4;
  map.registers[0].fields[0].description += "!";
  EXPECT_NE(CompareWithMap(map, records.data(), records.size(), names.data(), names.size()), "");
}

TEST(RegdbPack, RejectsTooManyRegisters) {
  regmap::Map map = ParseSmall();
  map.registers.resize(12289, map.registers[0]);
  PackedVariant p;
  std::string error;
  EXPECT_FALSE(PackVariant(map, p, error));
  EXPECT_NE(error.find("too many registers"), std::string::npos) << error;
}

class RegdbTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = ::ktq::testing::TestDir();
  }
  int Run(const std::string& args) {
    const std::string command = kTool + " " + args + " >" + (dir_ / "out.txt").string() + " 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Output() { return Read(dir_ / "out.txt"); }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  fs::path dir_;
};

TEST_F(RegdbTool, PackWritesTheVariantAndVerifyAcceptsIt) {
  ASSERT_EQ(Run("pack " + kSmallMap + " " + dir_.string()), 0) << Output();
  const std::string numbers = Read(dir_ / "variant-6a.numbers");
  PackedVariant p;
  std::string error;
  ASSERT_TRUE(PackVariant(ParseSmall(), p, error));
  EXPECT_EQ(numbers, "records " + std::to_string(p.recordCount) + "\nrecords-bits " +
                         std::to_string(p.recordsStream.lengthInBits) + "\nname-base 0x04FF6FF8\nnames-bits " +
                         std::to_string(p.namesStream.lengthInBits) + "\n");
  EXPECT_EQ(Run("verify " + kSmallMap + " " + dir_.string()), 0) << Output();

  // Unpacking the written stream gives the expanded records.
  ASSERT_EQ(Run("unpack " + (dir_ / "variant-6a.records.bin").string() + " " +
                std::to_string(p.recordsStream.lengthInBits) + " " + (dir_ / "records.out").string()),
            0)
      << Output();
  const std::string records = Read(dir_ / "records.out");
  EXPECT_EQ(records, std::string(p.records.begin(), p.records.end()));

  // A stale file in OUTDIR fails the check.
  Write(dir_ / "variant-6a.names.bin", "x");
  EXPECT_EQ(Run("verify " + kSmallMap + " " + dir_.string()), 1);
  EXPECT_EQ(Output(), "ktq-regdb: " + (dir_ / "variant-6a.names.bin").string() + " is out of date\n");
}

TEST_F(RegdbTool, UnpackExpandsAnyConformingStream) {
  // Literals "AB", a match of both (offset 0, length 2), partial last byte.
  // Bits, least significant first: 0 10000010 | 0 01000010 | 1 0000000000 0 100.
  const std::string stream("\x82\x08\x05\x40\x00", 5);
  Write(dir_ / "s.bin", stream);
  ASSERT_EQ(Run("unpack " + (dir_ / "s.bin").string() + " 33 " + (dir_ / "s.out").string()), 0) << Output();
  EXPECT_EQ(Read(dir_ / "s.out"), "ABAB");
  EXPECT_EQ(Output(), "4 bytes\n");
}

TEST_F(RegdbTool, ErrorsExitWithAClearMessage) {
  Write(dir_ / "bad.bin", std::string("\x01\x00", 2));  // a match before any output
  struct Case {
    std::string args;
    int status;
    std::string output;
  };
  const std::string bad = (dir_ / "bad.bin").string();
  const std::string missing = (dir_ / "missing.bin").string();
  const Case cases[] = {
      {"unpack " + bad + " 15 " + (dir_ / "o").string(), 1,
       "ktq-regdb: " + bad + ": match copies bytes not yet produced (at bit 0, after 0 bytes)\n"},
      {"unpack " + bad + " 17 " + (dir_ / "o").string(), 1,
       "ktq-regdb: " + bad + ": bit length runs past the end of the stream's bytes (at bit 0, after 0 bytes)\n"},
      // A bit count far beyond the file is refused before any output buffer
      // is sized for it.
      {"unpack " + bad + " 4294967295 " + (dir_ / "o").string(), 1,
       "ktq-regdb: " + bad + ": bit length runs past the end of the stream's bytes (at bit 0, after 0 bytes)\n"},
      {"unpack " + bad + " 1x " + (dir_ / "o").string(), 1, "ktq-regdb: invalid bit count: 1x\n"},
      {"unpack " + missing + " 8 " + (dir_ / "o").string(), 1,
       "ktq-regdb: " + missing + ": No such file or directory\n"},
      {"pack " + missing + " " + dir_.string(), 1, "ktq-regdb: " + missing + ":0: cannot open file\n"},
      {"pack " + kSmallMap + " " + (dir_ / "no" / "dir").string(), 1,
       "ktq-regdb: " + (dir_ / "no" / "dir").string() + "/variant-6a.records.bin: cannot create file\n"},
      {"frobnicate", 2,
       "usage: ktq-regdb pack MAPFILE OUTDIR\n       ktq-regdb unpack STREAM.bin BITS OUT.bin\n"
       "       ktq-regdb verify MAPFILE [OUTDIR]\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args), c.status) << c.args;
    EXPECT_EQ(Output(), c.output) << c.args;
  }
}

// Inputs that are no regular files are refused at once (a FIFO would block,
// /dev/zero never end, a directory used to end in an uncaught exception), and
// an existing output survives every failed run.
TEST_F(RegdbTool, UnpackRefusesUnreadableInputsAndKeepsTheOutput) {
  const std::string out = (dir_ / "o").string();
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Write(dir_ / "bad.bin", std::string("\x01\x00", 2));
  const std::string bad = (dir_ / "bad.bin").string();
  const struct {
    std::string args;
    std::string output;
  } cases[] = {
      {"unpack " + dir_.string() + " 8 " + out, "ktq-regdb: " + dir_.string() + ": is a directory\n"},
      {"unpack /dev/zero 800 " + out, "ktq-regdb: /dev/zero: is not a regular file\n"},
      {"unpack " + fifo + " 8 " + out, "ktq-regdb: " + fifo + ": is not a regular file\n"},
      {"unpack " + out + " 8 " + out, "ktq-regdb: " + out + ": is the input stream itself; it is left as it is\n"},
      {"unpack " + bad + " 15 " + out,
       "ktq-regdb: " + bad + ": match copies bytes not yet produced (at bit 0, after 0 bytes)\n"},
  };
  for (const auto& c : cases) {
    Write(out, "keep");
    EXPECT_EQ(Run(c.args), 1) << c.args;
    EXPECT_EQ(Output(), c.output) << c.args;
    EXPECT_EQ(Read(out), "keep") << c.args;
  }
  // Nothing is left beside the output either.
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) files += entry.path().filename().string().rfind("o.", 0) == 0;
  EXPECT_EQ(files, 0u);
}

}  // namespace

// ktq edid decode / edid read as a user runs them.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "diagnostics/edid_decoder.h"
#include "tests/support/ktq_run.h"

namespace {

using ktq::testing::KtqRun;
using ktq::testing::RunKtq;

using ktq::testing::SlurpFile;

std::vector<uint8_t> Bytes(const std::string& path) {
  const std::string s = SlurpFile(path);
  return {s.begin(), s.end()};
}

std::string TextOf(std::vector<uint8_t> bytes) {
  bytes.resize(ktq::kEdidBufferSize, 0);
  return ktq::EdidTextFromBytes(bytes);
}

class EdidCliTest : public ::testing::Test {
 protected:
  KtqRun Ktq(const std::string& arguments) { return RunKtq(arguments, dir); }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::string dir = ::testing::TempDir() + "ktq_edid_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_";
};

const std::string kCorpus = KTQ_SOURCE_DIR "/../shared/edid-corpus/";

TEST_F(EdidCliTest, DecodePrintsTheTextOfTheFilesBytes) {
  for (const char* name : {"ARZ3201-0C4B1B76CB86.bin", "AOC2402-895A71CC877A-corrupt-base.bin",
                           "APPAE22-7791A79DE7B8.bin"}) {
    SCOPED_TRACE(name);
    const KtqRun r = Ktq("edid decode " + kCorpus + name);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    std::vector<uint8_t> bytes = Bytes(kCorpus + name);
    bytes.resize(std::min<size_t>(bytes.size(), ktq::kEdidBufferSize));  // at most four blocks are read
    EXPECT_EQ(r.out, TextOf(bytes));
  }
}

TEST_F(EdidCliTest, DecodeRefusesWhatIsNoEdid) {
  const std::string base = SlurpFile(kCorpus + "ARZ3201-0C4B1B76CB86.bin");
  const std::string empty = WriteFile("empty.bin", "");
  const std::string shortFile = WriteFile("short.bin", base.substr(0, 127));
  const std::string partial = WriteFile("partial.bin", base.substr(0, 200));
  // 257 whole blocks: more than E-DDC can address, so no display holds it.
  const std::string oversized = WriteFile("oversized.bin", std::string(257 * 128, '\0'));
  const struct {
    std::string path;
    std::string error;
  } cases[] = {
      {dir + "missing.bin", "ktq: " + dir + "missing.bin: No such file or directory\n"},
      {empty, "ktq: " + empty + ": 0 bytes, shorter than the 128-byte EDID base block\n"},
      {shortFile, "ktq: " + shortFile + ": 127 bytes, shorter than the 128-byte EDID base block\n"},
      {partial, "ktq: " + partial + ": 200 bytes, not a whole number of 128-byte EDID blocks\n"},
      {"/tmp", "ktq: /tmp: Is a directory\n"},
      {oversized, "ktq: " + oversized + ": more than 32768 bytes, the most an EDID can hold\n"},
      {"/dev/zero", "ktq: /dev/zero: more than 32768 bytes, the most an EDID can hold\n"},
  };
  for (const auto& c : cases) {
    const KtqRun r = Ktq("edid decode '" + c.path + "'");
    EXPECT_EQ(r.status, 2) << c.path;
    EXPECT_EQ(r.out, "") << c.path;
    EXPECT_EQ(r.err, c.error);
  }
}

TEST_F(EdidCliTest, ReadShowsConnectedOutputsAndTheInput) {
  const std::string scenario = "--simulate=" KTQ_SOURCE_DIR "/sim/scenarios/edid-displays.json ";
  const KtqRun tx0 = Ktq(scenario + "edid read 1");
  EXPECT_EQ(tx0.status, 0) << tx0.err;
  EXPECT_EQ(tx0.err, "");
  const std::string tx0Text = TextOf(Bytes(kCorpus + "ARZ3201-0C4B1B76CB86.bin"));
  ASSERT_GE(tx0.out.size(), tx0Text.size());
  // Chip identification speaks first; the EDID text ends the output.
  EXPECT_EQ(tx0.out.substr(tx0.out.size() - tx0Text.size()), tx0Text);
  EXPECT_EQ(tx0.out.rfind("Chip type: Mondelo\r\n", 0), 0u) << tx0.out;

  const KtqRun input = Ktq(scenario + "edid read 0");
  EXPECT_EQ(input.status, 0) << input.err;
  EXPECT_EQ(input.out, TextOf(Bytes(kCorpus + "DEL4284-AAA6058749F3.bin")));
}

TEST_F(EdidCliTest, ReadSaysWhenNoDisplayIsConnected) {
  const KtqRun r = Ktq("--simulate=" KTQ_SOURCE_DIR "/sim/scenarios/edid-displays.json edid read 2");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  const std::string tail = "TX1: no display connected.\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST_F(EdidCliTest, ReadRefusesIndicesBeyondTheOutputs) {
  const KtqRun r = Ktq("--simulate=" KTQ_SOURCE_DIR "/sim/scenarios/edid-displays.json edid read 5");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "ktq: INDEX must be 0 (input) or 1 to 4 (output INDEX - 1): 5\n"
            "Usage: ktq [OPTIONS] edid decode FILE | read INDEX\n");
}

}  // namespace

// ktq edid decode / edid read as a user runs them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "diagnostics/edid_decoder.h"
#include "tests/edid/crafted_edid.h"
#include "tests/support/ktq_run.h"
#include "tests/support/test_dir.h"

namespace {

using ktq::test::CraftedEdid;
using ktq::test::CraftedEdidFile;
using ktq::testing::KtqRun;
using ktq::testing::RunKtq;

std::string TextOf(std::vector<uint8_t> bytes) {
  bytes.resize(ktq::kEdidBufferSize, 0);
  return ktq::EdidTextFromBytes(bytes);
}

// The raw listing that opens every EDID text: 16 bytes to a line.
std::string Listing(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    char word[4];
    std::snprintf(word, sizeof word, "%02x ", bytes[i]);
    text += word;
    if (i % 16 == 15) text += "\r\n";
  }
  return text;
}

// What follows the listing of monitor-dp: 10-bit DisplayPort, range limits,
// three standard timings; its CTA block with VICs 16, 4, 3, 31, two-channel
// PCM at 32 to 48 kHz, front speakers and a 720p timing.
const char kMonitorDpSummary[] =
    "Base block: \r\n"
    "  Product name: KTQ DP24, Product ID: KTQ 2701\r\n"
    "  Serial No: 12345, Manufacture date: 10th week, 2022\r\n"
    "  DisplayPort interface, support 10 bits color\r\n"
    "  Support range, VSync: 48-75Hz, HSync: 30-84KHz, Pixel clock: <=180MHz\r\n"
    "  Preferred timing: 1920x1080@60Hz, Pixel clock: 148.50MHz, H/V Total: 2200/1125\r\n"
    "  Supported standard timing list: \r\n"
    "    1920x1080@60Hz, 1280x1024@60Hz, 1680x1050@60Hz, "
    "\r\nCEA externsion block\r\n"
    "  Support feature: audio, YCbCr 4:4:4, YCbCr 4:2:2, \r\n"
    "  Support 4 video formats: 1920x1080p@60Hz, 1280x720p@60Hz, 720x480p@60Hz, \r\n"
    "  1920x1080p@50Hz, \r\n"
    "  Support up to 2 channel Linear PCM audio\r\n"
    "  Support audio frequency(Hz): 32K, 44.1K, 48K, \r\n"
    "  \r\n"
    "  \r\n"
    "  Speaker Allocation: FL/FR, \r\n"
    "  Detail timing: 1280x720@60Hz, Pixel clock: 74.25MHz, H/V Total: 1650_750\r\n";

class EdidCliTest : public ::testing::Test {
 protected:
  KtqRun Ktq(const std::string& arguments) { return RunKtq(arguments, dir); }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  std::string dir = (::ktq::testing::TestDir().string() + "/");
};

TEST_F(EdidCliTest, DecodePrintsTheTextOfTheFilesBytes) {
  const std::vector<uint8_t> monitor = CraftedEdid("monitor-dp");
  ASSERT_EQ(monitor.size(), 256u);
  std::vector<uint8_t> corrupt = monitor;
  ++corrupt[127];  // the base block now sums to 1
  std::vector<uint8_t> six = CraftedEdid("six-blocks");
  ASSERT_EQ(six.size(), 768u);
  six.resize(ktq::kEdidBufferSize);  // at most four blocks are read
  const struct {
    std::string path;
    std::string text;
  } cases[] = {
      {CraftedEdidFile("monitor-dp"), Listing(monitor) + kMonitorDpSummary},
      {WriteFile("corrupt-base.bin", std::string(corrupt.begin(), corrupt.end())),
       Listing(corrupt) + "Checksum error: 01\r\n"},
      // The fourth extension's wrong checksum is never seen.
      {CraftedEdidFile("six-blocks"),
       Listing(six) +
           "Base block: \r\n"
           "  Product name: KTQ SIX, Product ID: KTQ 0006\r\n"
           "  Serial No: 6, 2020 model\r\n"
           "  DVI interface, support 8 bits color\r\n"
           "  Support range, VSync: 48-75Hz, HSync: 30-84KHz, Pixel clock: <=180MHz\r\n"
           "  Preferred timing: 1920x1080@60Hz, Pixel clock: 148.50MHz, H/V Total: 2200/1125\r\n"
           "  Supported standard timing list: \r\n"
           "    1920x1080@60Hz, "
           "\r\nCEA externsion block\r\n"
           "  Support feature: audio, \r\n"
           "  Support 2 video formats: 1920x1080p@60Hz, 1280x720p@60Hz, \r\n"
           "  Detail timing: 1280x720@60Hz, Pixel clock: 74.25MHz, H/V Total: 1650_750\r\n"
           "\r\nVTB externsion block\r\n"
           "  Detail timing: 1280x720@60Hz, Pixel clock: 74250KHz, HTotal_VTotal: 1650_750\r\n"
           "\r\nDID externsion block\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const KtqRun r = Ktq("edid decode " + c.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.text);
  }
}

TEST_F(EdidCliTest, DecodeRefusesWhatIsNoEdid) {
  const std::vector<uint8_t> monitor = CraftedEdid("monitor-dp");
  const std::string base(monitor.begin(), monitor.end());
  const std::string empty = WriteFile("empty.bin", "");
  const std::string shortFile = WriteFile("short.bin", base.substr(0, 127));
  const std::string partial = WriteFile("partial.bin", base.substr(0, 200));
  // 257 whole blocks: more than E-DDC can address, so no display holds it.
  const std::string oversized = WriteFile("oversized.bin", std::string(257 * 128, '\0'));
  const std::string fifo = dir + "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    std::string error;
  } cases[] = {
      {dir + "missing.bin", "ktq: cannot read " + dir + "missing.bin: No such file or directory\n"},
      {empty, "ktq: " + empty + ": 0 bytes, shorter than the 128-byte EDID base block\n"},
      {shortFile, "ktq: " + shortFile + ": 127 bytes, shorter than the 128-byte EDID base block\n"},
      {partial, "ktq: " + partial + ": 200 bytes, not a whole number of 128-byte EDID blocks\n"},
      // Checked before they are opened: a folder, a device that never ends,
      // a FIFO that would block.
      {"/tmp", "ktq: /tmp is not a regular file\n"},
      {oversized, "ktq: " + oversized + " is too large: 32896 bytes, at most 32768 expected\n"},
      {"/dev/zero", "ktq: /dev/zero is not a regular file\n"},
      {fifo, "ktq: " + fifo + " is not a regular file\n"},
  };
  for (const auto& c : cases) {
    const KtqRun r = Ktq("edid decode '" + c.path + "'");
    EXPECT_EQ(r.status, 2) << c.path;
    EXPECT_EQ(r.out, "") << c.path;
    EXPECT_EQ(r.err, c.error);
  }
  std::remove(fifo.c_str());
  // Standard input, as "-".
  const KtqRun piped = Ktq("edid decode - < '" + WriteFile("stdin.bin", base) + "'");
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, Listing(monitor) + kMonitorDpSummary);
}

TEST_F(EdidCliTest, ReadShowsConnectedOutputsAndTheInput) {
  const std::string scenario = "--simulate=" KTQ_SOURCE_DIR "/sim/scenarios/edid-displays.json ";
  const KtqRun tx0 = Ktq(scenario + "edid read 1");
  EXPECT_EQ(tx0.status, 0) << tx0.err;
  EXPECT_EQ(tx0.err, "");
  const std::string tx0Text = TextOf(CraftedEdid("tv-4k"));
  ASSERT_GE(tx0.out.size(), tx0Text.size());
  // Only the EDID: no identification lines on standard output.
  EXPECT_EQ(tx0.out, tx0Text);
  const KtqRun raw = Ktq(scenario + "edid read 1 --raw");
  EXPECT_EQ(raw.status, 0) << raw.err;
  const std::vector<uint8_t> tv = CraftedEdid("tv-4k");
  EXPECT_EQ(raw.out, std::string(tv.begin(), tv.end()));

  const KtqRun input = Ktq(scenario + "edid read 0");
  EXPECT_EQ(input.status, 0) << input.err;
  EXPECT_EQ(input.out, Listing(CraftedEdid("monitor-dp")) + kMonitorDpSummary);
}

TEST_F(EdidCliTest, ReadSaysWhenNoDisplayIsConnected) {
  const KtqRun r = Ktq("--simulate=" KTQ_SOURCE_DIR "/sim/scenarios/edid-displays.json edid read 2");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ktq: TX1: no display connected.\n");
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

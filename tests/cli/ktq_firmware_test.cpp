// ktq flash, cascade and tefra as a user runs them: output, exit status, the
// trace, and the state the virtual converter saves at exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/progress_display.h"
#include "cli/sha256.h"
#include "tests/support/ktq_run.h"
#include "tests/support/test_dir.h"

namespace {

using ktq::testing::KtqRun;
using ktq::testing::SlurpFile;

std::string ImageBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + (i >> 8) * 13 + 1) & 0xFF);
  return bytes;
}

class KtqFirmwareTest : public ::testing::Test {
 protected:
  using Run = KtqRun;

  Run Ktq(const std::string& scenario, const std::string& arguments) {
    std::ofstream(dir + "scenario.json") << scenario;
    return ktq::testing::RunKtq("--simulate=" + dir + "scenario.json --trace " + dir + "trace.txt " + arguments, dir);
  }

  // Command bytes (byte 5 of RC requests) of every output report traced.
  std::vector<std::string> TracedCommands() {
    std::ifstream in(dir + "trace.txt");
    std::vector<std::string> commands;
    std::string time, word, b0, b1, b2, b3, b4, b5;
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      fields >> time >> word;
      if (word != "OUT") continue;
      fields >> b0 >> b1 >> b2 >> b3 >> b4 >> b5;
      commands.push_back(b1 == "00" ? b5 : "I2C" + b1);
    }
    return commands;
  }

  std::string WriteImage(size_t size) {
    const std::string path = dir + "image.fullrom";
    std::ofstream(path, std::ios::binary) << ImageBytes(size);
    return path;
  }

  // Every text from "Initializing..." on.
  static std::string FromInitializing(const std::string& out) {
    const size_t at = out.find("Initializing...");
    return at == std::string::npos ? "" : out.substr(at);
  }

  std::string dir = (::ktq::testing::TestDir().string() + "/");
};

std::vector<uint8_t> ToBytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::string SaveAtExit(const std::string& dir) {
  return R"(, "save_at_exit": {"flash": ")" + dir + R"(flash.bin", "shared_flash": ")" + dir +
         R"(shared.bin", "rdx4410": ")" + dir + R"(rdx.json"}})";
}

TEST_F(KtqFirmwareTest, FlashWritesTheImageInAscendingChunksAndCountsPercentLines) {
  const std::string image = WriteImage(0x50000 + 512);
  const Run run = Ktq(R"({"devices": [{"chip": {"type": 5}}])" + SaveAtExit(dir), "flash " + image + " --yes");

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  // A longer image is written as far as the chip takes it, with a note first;
  // then what is about to be written; then the update's own lines.
  std::string percents;
  for (int p = 0; p <= 100; ++p) percents += std::to_string(p) + "%\n";
  EXPECT_EQ(run.err, "ktq: note: " + image +
                         " holds 328192 bytes; a type-5 chip takes 327680 bytes (0x50000), the rest is not written\n"
                         "Converter sim:0 (serial SIM0), chip type 5, firmware 2.03.034 \"TARVIK_FW\".\n"
                         "Image " + image + ": 328192 bytes, SHA-256 " + ktq::cli::Sha256Hex(ToBytes(ImageBytes(0x50000 + 512))) +
                         "\nInitializing...OK!\nErasing flash...OK!\nUpdating firmware...\n" + percents +
                         "\t...OK!\nActivating firmware...OK!\nUpdate complete!\n"
                         "The new firmware runs once the converter restarts: re-plug it (or use --wait).\n");
  EXPECT_EQ(SlurpFile(dir + "flash.bin"), ImageBytes(0x50000 + 512).substr(0, 0x50000));

  // Between the erase and the disable: 10,240 chunk writes at ascending
  // offsets (checked on the trace's address bytes).
  std::ifstream trace(dir + "trace.txt");
  std::string line;
  uint32_t expected = 0;
  size_t writes = 0;
  bool erased = false, disabled = false;
  while (std::getline(trace, line)) {
    std::istringstream f(line);
    std::string t, word;
    f >> t >> word;
    if (word != "OUT") continue;
    std::vector<std::string> b(11);
    for (auto& x : b) f >> x;
    if (b[5] == "94") erased = true;
    if (b[5] == "82" && erased && writes > 0) disabled = true;
    if (b[5] != "A0") continue;
    EXPECT_TRUE(erased && !disabled);
    const uint32_t address = std::stoul(b[10] + b[9] + b[8] + b[7], nullptr, 16);
    if (address != expected) {
      ADD_FAILURE() << "chunk " << writes << " at " << address;
      break;
    }
    expected += 32;
    ++writes;
  }
  EXPECT_EQ(writes, 10240u);
  EXPECT_TRUE(disabled);
}

TEST_F(KtqFirmwareTest, FlashChecksTheFileBeforeWritingAnything) {
  const std::string scenario = R"({"devices": [{"chip": {"type": 5}}]})";
  Run run = Ktq(scenario, "flash " + dir + "missing.fullrom");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "ktq: cannot read " + dir + "missing.fullrom: No such file or directory; nothing was written\n");
  EXPECT_TRUE(TracedCommands().empty());

  const std::string image = WriteImage(0x50000 - 32);
  run = Ktq(scenario, "flash " + image + " -y");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "ktq: " + image +
                         " holds 327648 bytes; a type-5 chip takes an image of 327680 bytes (0x50000); nothing was "
                         "written\n");
  for (const std::string& c : TracedCommands()) EXPECT_EQ(c, "B1") << "only identification reads";

  std::ofstream(dir + "empty.fullrom").close();
  run = Ktq(scenario, "flash " + dir + "empty.fullrom -y");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "ktq: " + dir + "empty.fullrom is empty; nothing was written\n");
}

TEST_F(KtqFirmwareTest, FlashNeverStartsOnAnUnsupportedChip) {
  const Run run = Ktq(R"({"devices": [{"chip": {"type": 4}}]})", "flash " + WriteImage(0x50000) + " -y");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Device not supported!\r\nktq: the chip of this converter is not supported (date code 0x20190608).\n");
  for (const std::string& c : TracedCommands()) EXPECT_EQ(c, "B1");
}

TEST_F(KtqFirmwareTest, CascadeActivatesTheRdx4410OnType5AndIsRefusedOnType6) {
  const std::string image = WriteImage(0x50000);
  Run run = Ktq(R"({"devices": [{"chip": {"type": 5}, "rdx4410": {}}])" + SaveAtExit(dir), "cascade " + image + " --yes");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Start updating RDX4410...\nInitializing...OK!\n"), std::string::npos);
  const std::string ending = "\t...OK!\nI2CM speed settled at 400Khz\nActivating firmware...OK!\nUpdate complete!\n"
                             "The new firmware runs once the converter restarts: re-plug it (or use --wait).\n";
  ASSERT_GE(run.err.size(), ending.size());
  EXPECT_EQ(run.err.substr(run.err.size() - ending.size()), ending);
  EXPECT_EQ(SlurpFile(dir + "shared.bin"), ImageBytes(0x50000));
  EXPECT_EQ(SlurpFile(dir + "flash.bin"), std::string(0x50000, '\x5A')) << "the main chip's own firmware stays";
  EXPECT_NE(SlurpFile(dir + "rdx.json").find("\"activated\": true"), std::string::npos);

  // A converter without a companion chip: that is said, and nothing else.
  run = Ktq(R"({"devices": [{"chip": {"type": 6}}]})", "cascade " + image + " --yes");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "This device doesn't support cascade update!!\n");
  for (const std::string& c : TracedCommands()) EXPECT_EQ(c, "B1") << "only identification reads";
}

TEST_F(KtqFirmwareTest, TefraSavesTheValidRecords) {
  const std::string valid = "01 02 3B 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20";
  const std::string dropped = "01 02 3C 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20";
  const Run run = Ktq(R"({"devices": [{"chip": {"type": 5}, "tefra": {"records": [")" + valid + R"(", ")" + dropped +
                          R"("]}}]})",
                      "tefra " + dir + "log.bin");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Save embedded tefra log...READ FROM TEFRA failed: 07\nfinished.\r\n1 record written to " + dir +
                         "log.bin\n");
  std::string record;
  for (int i = 1; i <= 32; ++i) record += static_cast<char>(i == 3 ? 0x3B : i);
  EXPECT_EQ(SlurpFile(dir + "log.bin"), record + std::string(36, '\0'));
}

TEST(ProgressDisplayTest, TerminalRedrawsOneBarLineAndEndsItBeforeTheNextMessage) {
  using ktq::cli::ProgressDisplay;
  EXPECT_EQ(ProgressDisplay::BarLine(50, std::chrono::seconds(10)),
            "[####################                    ]  50%  00:10 elapsed, 00:10 left");
  EXPECT_EQ(ProgressDisplay::BarLine(0, std::chrono::seconds(0)),
            "[                                        ]   0%  00:00 elapsed, --:-- left");
  EXPECT_EQ(ProgressDisplay::BarLine(25, std::chrono::seconds(90)),
            "[##########                              ]  25%  01:30 elapsed, 04:30 left");

  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ProgressDisplay display(out, true);
  display.OnMessage("Updating firmware...\n");
  display.OnProgress(0);
  display.OnProgress(0);
  display.OnMessage("\t...OK!\n");
  display.Finish();
  std::rewind(out);
  char text[512] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  const std::string bar = ProgressDisplay::BarLine(0, {});
  EXPECT_EQ(std::string(text, n), "Updating firmware...\n\r" + bar + std::string(79 - bar.size(), ' ') + "\n\t...OK!\n");
  // The erase's clock line, completed by the erase's result after one blank.
  out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  {
    ProgressDisplay erase(out, true);
    erase.OnMessage("Erasing flash...");
    erase.OnMessage("OK!\n");
  }
  std::rewind(out);
  const size_t erased = std::fread(text, 1, sizeof text - 1, out);
  std::fclose(out);
  const std::string clock = "Erasing flash... 00:00";
  EXPECT_EQ(std::string(text, erased), "\r" + clock + std::string(79 - clock.size(), ' ') + "\r" + clock + " OK!\n");
  // The bar fits a narrow terminal.
  EXPECT_EQ(ProgressDisplay::BarLine(50, std::chrono::seconds(10), 50),
            "[######       ]  50%  00:10 elapsed, 00:10 left");
}

}  // namespace

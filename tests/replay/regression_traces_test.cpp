// Regression traces: one recorded session per ktq operation, replayed as the
// converter. Any change to what goes on the wire ends the replay at the
// first request that differs, and the test fails naming that request.
//
// The traces were recorded over the virtual converter and are kept in
// traces/ (xz, time stamps zeroed so they replay at full speed and a
// regeneration's diff shows only wire changes), each with the exit status
// and the texts of the run that recorded it. A deliberate change to the wire
// format regenerates them (then review the diff of the .expected files):
//
//   cmake --build build --target regenerate-replay-traces
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "device/wire_trace_format.h"
#include "sim/compressed_file.h"
#include "tests/support/ktq_run.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

struct TraceCase {
  const char* name;
  const char* scenario;   // relative to the source tree; null: a trace never re-recorded
  const char* arguments;  // {dir}: the test's own folder
};

void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.name << ": ktq " << c.arguments; }

const TraceCase kCases[] = {
    {"info", "sim/scenarios/type5-converter.json", "info"},
    {"read", "sim/scenarios/type5-converter.json", "read 0x20200D30 40"},
    {"write", "sim/scenarios/type5-converter.json", "--yes write 0x90000100 0x11 0x22 0x33 0x44 0x55"},
    {"reg_read", "sim/scenarios/type5-converter.json", "reg read CORE_MCU_FW_VERSION"},
    {"flash", "sim/scenarios/type5-converter.json", "--yes flash {dir}/image.fullrom"},
    {"cascade", "sim/scenarios/cascade-type5.json", "--yes cascade {dir}/image.fullrom"},
    {"tefra", "sim/scenarios/cascade-type5.json", "tefra {dir}/tefra.bin"},
    {"edid_read", "sim/scenarios/edid-displays.json", "edid read 0"},
    {"dump", "sim/scenarios/type5-converter.json", "dump {dir}/dump.txt"},
};

const std::string kTraceDir = KTQ_SOURCE_DIR "/tests/replay/traces/";

// A full-size image whose 32-byte chunks differ from their neighbours (so a
// chunk sent twice or out of order shows) yet compress to little.
std::string ImageBytes() {
  std::string bytes(0x50000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(((i >> 5) * 7) & 0xFF);
  return bytes;
}

std::string TracePath(const TraceCase& c) { return kTraceDir + c.name + ".trace.xz"; }
std::string ExpectedPath(const TraceCase& c) { return kTraceDir + c.name + ".expected"; }

// ktq with the case's files in its own folder.
KtqRun RunInTestDir(const std::string& options, std::string arguments) {
  const std::string dir = TestDir().string();
  std::ofstream(dir + "/image.fullrom", std::ios::binary) << ImageBytes();
  for (size_t at; (at = arguments.find("{dir}")) != std::string::npos;) arguments.replace(at, 5, dir);
  return RunKtq(options + " " + arguments, dir + "/");
}

// The run's result with the case's own folder written as {dir}, since that
// folder's name differs from run to run.
std::string Expected(const KtqRun& run) {
  std::string text =
      "exit " + std::to_string(run.status) + "\n--- standard output\n" + run.out + "--- standard error\n" + run.err;
  const std::string dir = TestDir().string();
  for (size_t at; (at = text.find(dir)) != std::string::npos;) text.replace(at, dir.size(), "{dir}");
  return text;
}

// Records the case over its scenario and stores trace and expectation.
void Regenerate(const TraceCase& c) {
  const std::string raw = TestPath("recorded.txt");
  const KtqRun run = RunInTestDir(std::string("--simulate=") + KTQ_SOURCE_DIR + "/" + c.scenario + " --trace " + raw,
                                  c.arguments);
  std::vector<TraceEntry> entries;
  std::string error;
  ASSERT_TRUE(ParseTraceText(SlurpFile(raw), entries, error)) << error;
  std::string text = std::string("# ktq ") + c.arguments + " over " + c.scenario +
                     "; regenerate: cmake --build build --target regenerate-replay-traces\n";
  for (TraceEntry& e : entries) {
    e.micros = 0;
    text += FormatTraceLine(e) + "\n";
  }
  ASSERT_TRUE(sim::WriteXzFile(TracePath(c), text, error)) << error;
  std::ofstream(ExpectedPath(c), std::ios::binary) << Expected(run);
}

class RegressionTraceTest : public ::testing::TestWithParam<TraceCase> {};

TEST_P(RegressionTraceTest, ReplaysWithTheRecordedResult) {
  const TraceCase& c = GetParam();
  if (std::getenv("KTQ_REGENERATE_REPLAY_TRACES") && c.scenario) Regenerate(c);
  const KtqRun replay = RunInTestDir("--simulate=" + TracePath(c), c.arguments);
  // Standard error names the first request that differs, if any, and any
  // recorded traffic the run left unused.
  EXPECT_EQ(Expected(replay), SlurpFile(ExpectedPath(c)));
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, RegressionTraceTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TraceCase>& info) { return info.param.name; });

std::string Hex(const std::array<uint8_t, 62>& bytes) {
  std::string out;
  char byte[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
    out += byte;
  }
  return out;
}

TEST(RegressionTraceFlashTest, OneChangedImageByteStopsTheReplayAtTheChunkThatHoldsIt) {
  const uint32_t changedAt = 0x1234;
  const uint32_t chunk = changedAt & ~31u;
  std::string image = ImageBytes();
  image[changedAt] = static_cast<char>(image[changedAt] ^ 0x01);
  const std::string dir = TestDir().string();
  std::ofstream(dir + "/changed.fullrom", std::ios::binary) << image;

  // The recorded request of that chunk.
  std::string text, error;
  std::vector<TraceEntry> entries;
  ASSERT_TRUE(sim::ReadPossiblyCompressedFile(kTraceDir + "flash.trace.xz", text, error)) << error;
  ASSERT_TRUE(ParseTraceText(text, entries, error)) << error;
  size_t at = 0;
  while (at < entries.size() && !(entries[at].word == TraceWord::kOut && entries[at].report[5] == 0xA0 &&
                                  entries[at].report[7] == (chunk & 0xFF) && entries[at].report[8] == chunk >> 8))
    ++at;
  ASSERT_LT(at, entries.size());
  const TraceEntry& recorded = entries[at];
  auto received = recorded.report;
  const size_t byte = 15 + (changedAt - chunk);
  received[byte] ^= 0x01;
  uint8_t sum = 0;  // the checksum makes bytes 2 to 47 add up to 0
  for (size_t i = 2; i < 15 + 32; ++i) sum = static_cast<uint8_t>(sum + received[i]);
  received[15 + 32] = static_cast<uint8_t>(-sum);

  const KtqRun run = RunKtq("--simulate=" + kTraceDir + "flash.trace.xz --yes flash " + dir + "/changed.fullrom", dir + "/");
  EXPECT_EQ(run.status, 1);  // the device failed: a chunk write was refused
  char difference[80];
  std::snprintf(difference, sizeof difference, "byte %zu (payload byte %u): recorded %02X, received %02X", byte,
                changedAt - chunk, recorded.report[byte], received[byte]);
  const std::string replayStop = "ktq: replay: replay stopped at trace line " + std::to_string(recorded.line) +
                         ": the output report differs from the recording\n"
                         "  request:  UPDC_WRITE_FLASH (0x20) at 0x00001220, 32 bytes\n"
                         "  first difference at " + difference + "\n"
                         "  recorded: " + Hex(recorded.report) + "\n"
                         "  received: " + Hex(received) + "\n" +
                         std::string(12 + 3 * byte, ' ') + "^^\n";
  const std::string unused = "ktq: replay: recorded traffic left unused: " + std::to_string(entries.size() - at) +
                             " lines (lines " + std::to_string(recorded.line) + "-" +
                             std::to_string(entries.back().line) + ")\n";
  // The stop comes right after the last percentage the replay could give, the
  // device layer's failure for that chunk after it, and the unused traffic last.
  EXPECT_NE(run.err.find("1%\n" + replayStop + "RCSetCommand : Usb2 set output report failed\rWrite flash FAILED at index: 1220\n"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(run.err.ends_with("ktq: keep it plugged in and flash again before unplugging it.\n" + unused)) << run.err;
}

}  // namespace
}  // namespace ktq::testing

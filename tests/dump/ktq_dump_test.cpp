// ktq dump over every shipped dump scenario: a complete file with its
// sections in order, every EDID section as `ktq edid decode` prints the same
// bytes, every read in the trace, and OUT replaced only by a whole dump.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ktq_run.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

const std::string kScenarios = KTQ_SOURCE_DIR "/sim/scenarios/";

struct Scenario {
  const char* name;
  // The EDID file of the input and of each output, "" for none.
  std::vector<std::string> edids;
  friend void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }
};

const std::string kTv = "tv-4k.bin", kMonitor = "monitor-dp.bin";

std::string FormatHeader(size_t port, bool connected);

class KtqDump : public ::testing::TestWithParam<Scenario> {
 protected:
  KtqRun Ktq(const std::string& arguments) { return RunKtq(arguments, TestPath("")); }
};

TEST_P(KtqDump, CompleteDumpWithTheSectionsInOrder) {
  const Scenario& s = GetParam();
  const std::string out = TestPath("OUT.txt"), trace = TestPath("trace.txt");
  const KtqRun run = Ktq("--simulate=" + kScenarios + s.name + ".json --trace " + trace + " dump " + out);
  // A converter whose memory reads fail gives a dump that says so, kept as
  // incomplete beside the file asked for.
  const bool incomplete = s.name == std::string("memory-reads-fail");
  ASSERT_EQ(run.status, incomplete ? 1 : 0) << run.err;
  // Standard output carries only requested output: none for a dump. The
  // device layer's diagnostic lines (timing records on standard output) go
  // to standard error between the dump's own messages.
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(run.err, ::testing::StartsWith("Dump register/memory..."));
  if (incomplete) {
    EXPECT_THAT(run.err, ::testing::EndsWith("finished.\r\nktq: the dump is incomplete: the converter refused 2 "
                                             "register or memory reads; it is saved as " +
                                             out + ".incomplete, which shows which reads failed, and " + out +
                                             " is unchanged\n"));
    EXPECT_FALSE(std::filesystem::exists(out));
  } else {
    EXPECT_THAT(run.err, ::testing::EndsWith("finished.\r\n"));
  }
  const std::string text = SlurpFile(incomplete ? out + ".incomplete" : out);

  std::vector<std::string> sections = {"Dump at ", "\r\n\r\n", "Running in ", "Register data dump...\r\n",
                                       "\r\nRegister data dump finished\r\n", "\r\nMemory data dump...\r\n",
                                       "Memory data dump finished\r\n\r\n", "\r\n\r\nTambo EDID:\r\n"};
  size_t at = 0;
  for (const std::string& marker : sections) {
    const size_t found = text.find(marker, at);
    ASSERT_NE(found, std::string::npos) << marker << " missing or out of order";
    at = found + marker.size();
  }

  // Each EDID section is what `ktq edid decode` gives for the same bytes;
  // outputs without a display say so.
  for (size_t index = 0; index < s.edids.size(); ++index) {
    const std::string header = index == 0 ? "\r\n\r\nTambo EDID:\r\n" : FormatHeader(index - 1, !s.edids[index].empty());
    const size_t start = text.find(header);
    ASSERT_NE(start, std::string::npos) << header;
    if (s.edids[index].empty()) continue;
    const KtqRun decode = Ktq("edid decode " + kScenarios + "edids/" + s.edids[index]);
    ASSERT_EQ(decode.status, 0);
    EXPECT_EQ(text.substr(start + header.size(), decode.out.size()), decode.out) << header;
  }

  // The trace holds the reads: as many output reports as the dump needed,
  // and nothing refused.
  const std::string wire = SlurpFile(trace);
  EXPECT_NE(wire.find(" OUT "), std::string::npos);
  EXPECT_EQ(wire.find("OUT-FAIL"), std::string::npos);

  // Nothing is left beside OUT.
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(TestDir()))
    files += entry.path().filename().string().rfind(".ktq-dump-", 0) == 0;
  EXPECT_EQ(files, 0u);
}

std::string FormatHeader(size_t port, bool connected) {
  return connected ? "\r\n\r\nTX" + std::to_string(port) + " EDID:\r\n"
                   : "\r\n\r\nTX" + std::to_string(port) + " no connection\r\n\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Shipped, KtqDump,
    ::testing::Values(Scenario{"hdmi-adapter-4k-tv", {kTv, kTv, "", ""}},
                      Scenario{"dock-type6-dsc-frl", {kMonitor, kMonitor, kTv, kMonitor, kTv}},
                      Scenario{"no-display", {kMonitor, "", "", ""}},
                      Scenario{"dropping-link", {kMonitor, kMonitor, "", ""}},
                      Scenario{"memory-reads-fail", {kMonitor, kTv, "", ""}}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& c : n)
        if (c == '-') c = '_';
      return n;
    });

TEST(KtqDumpFile, AFailedDumpLeavesTheOldFileAlone) {
  const std::string out = TestPath("OUT.txt");
  std::ofstream(out) << "earlier dump\n";
  // No converter: nothing is written.
  const std::string empty = TestPath("none.json");
  std::ofstream(empty) << R"({"devices": []})";
  KtqRun run = RunKtq("--simulate=" + empty + " dump " + out, TestPath(""));
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(SlurpFile(out), "earlier dump\n");

  // A converter pulled out during the dump: OUT is left alone, the dump with
  // its failures is saved beside it under a name that says so, and the exit
  // status says reads went unanswered.
  run = RunKtq("--simulate=" KTQ_SOURCE_DIR "/tests/data/dump/unplugged-halfway.json dump " + out, TestPath(""));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(SlurpFile(out), "earlier dump\n");
  EXPECT_NE(SlurpFile(out + ".incomplete").find("read out the memory data failed at the address: 90000000h"),
            std::string::npos);
  EXPECT_NE(run.err.find("ktq: the dump is incomplete: the converter did not answer 3 reads and stopped answering, so the "
                         "rest was not read; it is saved as " +
                         out + ".incomplete"),
            std::string::npos)
      << run.err;

  // A folder that does not exist: nothing is created.
  run = RunKtq("--simulate dump " + TestPath("no/such/folder/OUT.txt"), TestPath(""));
  EXPECT_EQ(run.status, 1);
  EXPECT_FALSE(std::filesystem::exists(TestPath("no")));

  run = RunKtq("--simulate dump", TestPath(""));
  EXPECT_EQ(run.status, 2);
}

// Holes that make a dump incomplete although every read got an answer of
// some kind: OUT stays as it was, the dump goes to OUT.incomplete, and the
// last message says what is missing.
struct Hole {
  const char* name;
  const char* converter;  // extra keys of a type-6 converter with sinks on TX0 and TX1
  const char* missing;
  friend void PrintTo(const Hole& h, std::ostream* os) { *os << h.name; }
};

class KtqDumpHoles : public ::testing::TestWithParam<Hole> {};

TEST_P(KtqDumpHoles, KeepTheOldFileAndSayWhatIsMissing) {
  const Hole& hole = GetParam();
  const std::string edids = KTQ_SOURCE_DIR "/sim/scenarios/edids/";
  const std::string scenario = TestPath("scenario.json"), out = TestPath("OUT.txt");
  std::ofstream(scenario) << R"({"clock": "virtual", "devices": [{"chip": {"type": 6}, "edid": {"input": ")" + edids +
                                 R"(monitor-dp.bin", "outputs": [{"file": ")" + edids + R"(tv-4k.bin"}, {"file": ")" +
                                 edids + R"(monitor-dp.bin"}]}, )" + hole.converter + "}]}";
  std::ofstream(out) << "earlier dump\n";
  const KtqRun run = RunKtq("--simulate=" + scenario + " dump " + out, TestPath(""));
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(SlurpFile(out), "earlier dump\n");
  EXPECT_THAT(SlurpFile(out + ".incomplete"), ::testing::StartsWith("Dump at "));
  EXPECT_THAT(run.err, ::testing::EndsWith("finished.\r\nktq: the dump is incomplete: " + std::string(hole.missing) +
                                           "; it is saved as " + out + ".incomplete, which shows which reads " +
                                           "failed, and " + out + " is unchanged\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, KtqDumpHoles,
    ::testing::Values(
        // The display on TX0 asserts hot-plug, but its EDID read is refused.
        Hole{"RefusedOutputEdid", R"("faults": [{"kind": "status", "command": 81, "status": 128}])",
             "the converter refused 1 EDID read"},
        // The input EDID's base block comes, its extension does not.
        Hole{"RefusedInputExtension", R"("faults": [{"kind": "status", "command": 80, "skip": 1, "status": 2}])",
             "the converter refused 1 EDID read"},
        // Out of RC mode, and the request to enter it is never answered: the
        // chip stays unknown, so its own sections are missing.
        Hole{"ChipNotIdentified", R"("rc_mode": false, "faults": [{"kind": "never_complete", "command": 1}])",
             "the chip could not be identified"},
        Hole{"SeveralHoles",
             R"("faults": [{"kind": "status", "command": 82, "status": 3},
                           {"kind": "status", "command": 49, "skip": 100, "times": 2, "status": 5}])",
             "the converter refused 2 register or memory reads; the converter refused 1 EDID read"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ktq::testing

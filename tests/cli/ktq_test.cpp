// ktq as a user runs it: output, exit status and trace of whole runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/ktq_run.h"
#include "tests/support/test_dir.h"

namespace {

using ktq::testing::KtqRun;
using ktq::testing::RunKtq;

class KtqTest : public ::testing::Test {
 protected:
  KtqRun Ktq(const std::string& arguments) { return RunKtq(arguments, dir); }

  // The trace without time stamps.
  std::vector<std::string> TraceWords() {
    std::ifstream in(trace);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line.substr(line.find(' ') + 1));
    return lines;
  }

  std::string WriteScenario(const std::string& text) {
    const std::string path = dir + "scenario.json";
    std::ofstream(path) << text;
    return path;
  }

  static std::string Zeros(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += " 00";
    return s;
  }

  // CTest runs the cases in parallel: each has files of its own.
  std::string dir = (::ktq::testing::TestDir().string() + "/");
  std::string trace = dir + "trace.txt";
};

TEST_F(KtqTest, ReadOnTheDefaultScenarioSendsExactlyOneRequest) {
  const KtqRun r = Ktq("--simulate --trace " + trace + " read 0x20200D30 4");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "20200D30: 05 11 20 20\n");
  EXPECT_EQ(r.err, "");
  const auto lines = TraceWords();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "OPEN");
  EXPECT_EQ(lines[1], "OUT 01 00 0C 00 00 B1 00 30 0D 20 20 04 00 00 00 C2" + Zeros(46));
  EXPECT_EQ(lines[4], "CLOSE");
}

TEST_F(KtqTest, WriteWithRcModeOffEnablesItAndRepeats) {
  const KtqRun r = Ktq("--simulate=" KTQ_SOURCE_DIR "/sim/scenarios/rc-mode-off.json --trace " + trace +
                    " write 0x90000000 1 2 3 4");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::vector<std::string> outs;
  for (const auto& l : TraceWords())
    if (l.rfind("OUT ", 0) == 0) outs.push_back(l);
  const std::string write = "OUT 01 00 10 00 00 A1 00 00 00 00 90 04 00 00 00 01 02 03 04 B1" + Zeros(42);
  const std::string enable = "OUT 01 00 11 00 00 81 00 00 00 00 00 05 00 00 00 54 41 4D 42 4F F6" + Zeros(41);
  EXPECT_THAT(outs, ::testing::ElementsAre(write, enable, write));
}

TEST_F(KtqTest, LongReadIsDumpedSixteenBytesALine) {
  const std::string scenario = WriteScenario(R"({"devices": [{"memory": {"0x0FFFFFF8": "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11"}}]})");
  const KtqRun r = Ktq("--simulate=" + scenario + " read 0x0FFFFFF8 18");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "0FFFFFF8: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
            "10000008: 10 11\n");
}

TEST_F(KtqTest, ListShowsPathIdsAndProduct) {
  const KtqRun r = Ktq("--simulate=" KTQ_SOURCE_DIR "/sim/scenarios/two-converters.json list");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "sim:a  3A7C:7203  KTQ converter A\nsim:b  3A7C:7101  KTQ converter B\n");
}

TEST_F(KtqTest, DeviceFailurePrintsTheResultInHex) {
  const std::string scenario =
      WriteScenario(R"({"devices": [{"faults": [{"kind": "status", "command": "0x31", "status": "0xE2"}]}]})");
  const KtqRun r = Ktq("--simulate=" + scenario + " read 0x1000 4");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ktq: read failed (result 0xE2)\n");
}

TEST_F(KtqTest, MessagesOfTheDeviceLayerArePrintedAsTheyCome) {
  const std::string scenario = WriteScenario(R"({"devices": [{"type": "foreign"}]})");
  const KtqRun r = Ktq("--simulate=" + scenario + " read 0x1000 4");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "Can not find device!!\n");
}

TEST_F(KtqTest, BadCommandLinesAndSetupFailures) {
  struct Case {
    std::string args;
    int status;
    std::string err;
  } cases[] = {
      {"", 2, "ktq: no command given\nTry 'ktq --help'.\n"},
      {"--bogus list", 2, "ktq: unknown option --bogus\nTry 'ktq --help'.\n"},
      {"frobnicate", 2, "ktq: unknown command frobnicate\nTry 'ktq --help'.\n"},
      {"--simulate read 0x10", 2, "ktq: read takes ADDRESS and LENGTH\nUsage: ktq [OPTIONS] read ADDRESS LENGTH\n"},
      {"--simulate read 0x10 0", 2, "ktq: LENGTH must be 1 to 1048576: 0\nUsage: ktq [OPTIONS] read ADDRESS LENGTH\n"},
      {"--simulate read 0x1FFFFFFFF 1", 2, "ktq: bad ADDRESS: 0x1FFFFFFFF\nUsage: ktq [OPTIONS] read ADDRESS LENGTH\n"},
      {"--simulate write 0x10 256", 2, "ktq: bad BYTE: 256\nUsage: ktq [OPTIONS] write ADDRESS BYTE...\n"},
      {"--simulate write 0x10 FF", 2, "ktq: bad BYTE: FF\nUsage: ktq [OPTIONS] write ADDRESS BYTE...\n"},
      {"--trace", 2, "ktq: --trace needs a file\nTry 'ktq --help'.\n"},
      {"--simulate=/nonexistent.json list", 4, "ktq: scenario: /nonexistent.json: No such file or directory\n"},
      {"--simulate --trace /nonexistent/t.txt list", 4,
       "ktq: cannot write trace file /nonexistent/t.txt: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    const KtqRun r = Ktq(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
}

TEST_F(KtqTest, HelpExplainsCommandsAndExitStatuses) {
  const KtqRun r = Ktq("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.out, ::testing::HasSubstr("  read     read chip memory and show it in hex\n"));
  EXPECT_THAT(r.out, ::testing::HasSubstr("  3  no supported converter found, or it could not be opened\n"));
  const KtqRun read = Ktq("read --help");
  EXPECT_EQ(read.status, 0);
  EXPECT_THAT(read.out, ::testing::StartsWith("Usage: ktq [OPTIONS] read ADDRESS LENGTH\n\nReads LENGTH bytes"));
}

}  // namespace

// ktq as a user runs it: output, exit status and trace of whole runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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
                    " write 0x90000000 1 2 3 4 --yes");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  // Identification reads first: the first of them meets RC mode off, which
  // is enabled, and the read repeated; the write comes last.
  std::vector<std::string> outs;
  for (const auto& l : TraceWords())
    if (l.rfind("OUT ", 0) == 0) outs.push_back(l);
  ASSERT_GE(outs.size(), 3u);
  const std::string dateCodeRead = "OUT 01 00 0C 00 00 B1 00 30 0D 20 20 04 00 00 00 C2" + Zeros(46);
  outs.erase(outs.begin() + 3, outs.end() - 1);
  const std::string write = "OUT 01 00 10 00 00 A1 00 00 00 00 90 04 00 00 00 01 02 03 04 B1" + Zeros(42);
  const std::string enable = "OUT 01 00 11 00 00 81 00 00 00 00 00 05 00 00 00 54 41 4D 42 4F F6" + Zeros(41);
  EXPECT_THAT(outs, ::testing::ElementsAre(dateCodeRead, enable, dateCodeRead, write));
}

TEST_F(KtqTest, LongReadIsDumpedSixteenBytesALine) {
  const std::string scenario = WriteScenario(R"({"devices": [{"memory": {"0x0FFFFFF8": "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11"}}]})");
  const KtqRun r = Ktq("--simulate=" + scenario + " read 0x0FFFFFF8 18");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "0FFFFFF8: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
            "10000008: 10 11\n");
}

TEST_F(KtqTest, ListShowsPathIdsSerialAndProduct) {
  const KtqRun r = Ktq("--simulate=" KTQ_SOURCE_DIR "/sim/scenarios/two-converters.json list");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "sim:a  3A7C:7203  SIM1  KTQ converter A\nsim:b  3A7C:7101  SIM2  KTQ converter B\n");
  const KtqRun json = Ktq("list --json --simulate=" KTQ_SOURCE_DIR "/sim/scenarios/two-converters.json");
  EXPECT_EQ(json.status, 0);
  const auto parsed = nlohmann::json::parse(json.out);
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed[1], nlohmann::json({{"path", "sim:b"}, {"vendor_id", 0x3A7C}, {"product_id", 0x7101},
                                       {"serial", "SIM2"}, {"product", "KTQ converter B"}}));
}

TEST_F(KtqTest, DeviceFailurePrintsTheResultInHex) {
  const std::string scenario =
      WriteScenario(R"({"devices": [{"faults": [{"kind": "status", "command": "0x31", "status": "0xE2"}]}]})");
  const KtqRun r = Ktq("--simulate=" + scenario + " read 0x1000 4");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ktq: read failed (result 0xE2)\n");
}

TEST_F(KtqTest, NoConverterIsSaidOnStandardErrorWithWhatIsAttached) {
  const std::string scenario = WriteScenario(
      R"({"devices": [{"type": "foreign", "path": "sim:kbd", "vendor_id": "0x046D", "product_id": "0xC31C", "product": "Keyboard"}]})");
  const KtqRun r = Ktq("--simulate=" + scenario + " read 0x1000 4");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ktq: no converter found (looked for USB IDs 3A7C:71xx, 3A7C:72xx, 3A7C:73xx).\n"
                   "ktq: attached HID devices:\n  sim:kbd  046D:C31C  serial -  Keyboard\n"
                   "ktq: run 'ktq list' once the converter is plugged in.\n");
  // No HID device at all: the device layer says nothing, ktq does.
  const KtqRun none = Ktq("--simulate=" + WriteScenario(R"({"devices": []})") + " info");
  EXPECT_EQ(none.status, 3);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "ktq: no converter found (looked for USB IDs 3A7C:71xx, 3A7C:72xx, 3A7C:73xx).\n"
                      "ktq: no HID device is attached at all: check the cable and the hub, then run 'ktq list'.\n");
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
      {"--trace", 2, "ktq: --trace needs FILE\nTry 'ktq --help'.\n"},
      {"--trace '' --simulate list", 2, "ktq: --trace needs a file name\nTry 'ktq --help'.\n"},
      {"--raw --simulate info", 2, "ktq: --raw does not apply to info\nTry 'ktq --help'.\n"},
      {"--simulate=/nonexistent.json list", 4,
       "ktq: scenario: cannot read /nonexistent.json: No such file or directory\n"},
      {"--simulate=/dev/zero list", 4, "ktq: scenario: /dev/zero is not a regular file\n"},
      {"--simulate --trace /dev/full list", 2, "ktq: --trace: /dev/full exists and is not a regular file\n"},
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
  EXPECT_THAT(r.out, ::testing::HasSubstr("    3  no converter found, it vanished, or it cannot be opened (permissions)\n"));
  const KtqRun version = Ktq("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "ktq " KTQ_VERSION_TEXT "\n");
  const KtqRun read = Ktq("read --help");
  EXPECT_EQ(read.status, 0);
  EXPECT_THAT(read.out, ::testing::StartsWith("Usage: ktq [OPTIONS] read ADDRESS LENGTH\n\nReads LENGTH bytes"));
}

// The man page and the completion come from the same tables as --help: every
// command and every exit status is in them, and the completion works in bash.
TEST_F(KtqTest, ManPageAndCompletionAreMadeFromTheCommandTable) {
  const KtqRun man = Ktq("--generate=man");
  EXPECT_EQ(man.status, 0);
  for (const char* command : {"list", "read", "write", "info", "reg", "edid", "flash", "cascade", "tefra"})
    EXPECT_THAT(man.out, ::testing::HasSubstr(std::string(".TP\n.B ") + command + " ")) << command;
  for (const char* status : {"0", "1", "2", "3", "4", "130"})
    EXPECT_THAT(man.out, ::testing::HasSubstr(std::string(".TP\n.B ") + status + "\n")) << status;
  EXPECT_THAT(man.out, ::testing::HasSubstr("\\-\\-device PATH"));

  const KtqRun completion = Ktq("--generate=bash");
  EXPECT_EQ(completion.status, 0);
  const std::string script = WriteScenario(completion.out);
  const KtqRun words = ktq::testing::RunShell(
      "bash -c 'source " + script + "; COMP_WORDS=(ktq fl); COMP_CWORD=1; _ktq; echo ${COMPREPLY[@]};"
      " COMP_WORDS=(ktq --simulate reg \"\"); COMP_CWORD=3; _ktq; echo ${COMPREPLY[@]};"
      " COMP_WORDS=(ktq --ser); COMP_CWORD=1; _ktq; echo ${COMPREPLY[@]}'",
      dir);
  EXPECT_EQ(words.out, "flash\nlist read write\n--serial\n");
}

}  // namespace

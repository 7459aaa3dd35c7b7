// ktq as a technician and a production line use it: confirmation before
// writing, several converters, flash --all, --wait, honest exit statuses,
// files that must not be lost, and Ctrl-C during a flash.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "tests/support/ktq_run.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

std::string Image(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + (i >> 9)) & 0xFF);
  return bytes;
}

class KtqProductionTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = TestPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  KtqRun Ktq(const std::string& arguments) { return RunKtq(arguments, TestPath("")); }
  std::string image = Write("image.fullrom", Image(0x50000));
};

TEST_F(KtqProductionTest, NothingIsSentWithoutConfirmationOrWithSeveralConvertersAndNoChoice) {
  const std::string one = Write("one.json", R"({"devices": [{"chip": {"type": 5}}]})");
  KtqRun r = Ktq("--simulate=" + one + " --trace " + TestPath("t1.txt") + " flash " + image + " </dev/null");
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, ::testing::EndsWith("Add --yes to write without asking. Nothing was written.\n"));
  EXPECT_EQ(SlurpFile(TestPath("t1.txt")), "");

  const std::string two = Write("two.json", R"({"devices": [{"chip": {"type": 5}}, {"chip": {"type": 5}}]})");
  r = Ktq("--simulate=" + two + " --trace " + TestPath("t2.txt") + " flash -y " + image);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, ::testing::HasSubstr("several converters are attached; choose one with --device PATH"));
  EXPECT_EQ(SlurpFile(TestPath("t2.txt")), "");

  // --device picks one of them; the other is not touched.
  r = Ktq("--simulate=" + two + " flash -y --device sim:1 " + image);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, ::testing::HasSubstr("Converter sim:1 (serial SIM1)"));
}

TEST_F(KtqProductionTest, FlashAllUpdatesEveryConverterInItsOwnProcess) {
  const std::string scenario = Write("three.json", R"({"devices": [
      {"path": "sim:a", "serial": "A1", "chip": {"type": 5}},
      {"path": "sim:b", "serial": "B2", "chip": {"type": 5}},
      {"path": "sim:c", "serial": "C3", "chip": {"type": 5}}],
    "save_at_exit": [{"device": 0, "flash": ")" + TestPath("a.bin") + R"("},
                     {"device": 1, "flash": ")" + TestPath("b.bin") + R"("},
                     {"device": 2, "flash": ")" + TestPath("c.bin") + R"("}]})");
  const KtqRun r = Ktq("--simulate=" + scenario + " flash --all --yes --json " + image);
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* f : {"a.bin", "b.bin", "c.bin"}) EXPECT_TRUE(SlurpFile(TestPath(f)) == Image(0x50000)) << f;
  const auto summary = nlohmann::json::parse(r.out);
  EXPECT_EQ(summary["all_ok"], true);
  ASSERT_EQ(summary["converters"].size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(summary["converters"][i]["path"], std::string("sim:") + "abc"[i]);
    EXPECT_EQ(summary["converters"][i]["result"], "ok");
    EXPECT_EQ(summary["converters"][i]["exit_status"], 0);
  }

  // One converter refusing its erase: the summary says which, and the exit
  // status says that not all succeeded.
  const std::string failing = Write("failing.json", R"({"devices": [
      {"path": "sim:a", "chip": {"type": 5}},
      {"path": "sim:b", "chip": {"type": 5}, "faults": [{"kind": "status", "command": 20, "status": 51}]}]})");
  const KtqRun f = Ktq("--simulate=" + failing + " flash --all --yes " + image);
  EXPECT_EQ(f.status, 1);
  EXPECT_THAT(f.out, ::testing::ContainsRegex("sim:a +SIM0 +updated +[0-9.]+s  \n"));
  EXPECT_THAT(f.out, ::testing::ContainsRegex("sim:b +SIM1 +FAILED +[0-9.]+s  flash failed \\(result 0xE1\\)\n"));
}

TEST_F(KtqProductionTest, WaitSeesTheConverterRestartWithTheNewFirmware) {
  const std::string scenario =
      Write("restart.json", R"({"devices": [{"chip": {"type": 5}, "flash": {"restart": {"off_ms": 200, "fw_version": "0x00320105"}}}]})");
  const KtqRun r = Ktq("--simulate=" + scenario + " flash -y --wait=20 " + image);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Current FW version = 1.05.050\n");
}

TEST_F(KtqProductionTest, CascadeWhoseActivationFailsExitsNonZero) {
  const std::string scenario =
      Write("cascade.json", R"({"devices": [{"chip": {"type": 5}, "rdx4410": {"fail_activations": 3}}]})");
  const KtqRun r = Ktq("--simulate=" + scenario + " cascade -y " + image);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, ::testing::HasSubstr("Activating firmware...FAILED!!\nUpdate FAILED!!\nktq: cascade failed (result 0x3)\n"));
}

TEST_F(KtqProductionTest, InputsAreNeverOverwrittenAndTheOldLogSurvivesAnIncompleteOne) {
  // --trace naming the image: refused before the image is touched.
  const std::string copy = Write("copy.fullrom", Image(0x50000));
  KtqRun r = Ktq("--simulate --trace " + copy + " flash -y " + copy);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(SlurpFile(copy) == Image(0x50000));

  const std::string fifo = TestPath("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  r = Ktq("--simulate=" + fifo + " info");
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "ktq: scenario: " + fifo + " is not a regular file\n");
  r = Ktq("--simulate flash -y " + fifo);
  EXPECT_EQ(r.status, 2);

  // A log cut short keeps the old file and saves what was read beside it.
  const std::string log = Write("log.bin", "old log");
  const std::string scenario = Write("tefra.json", R"({"devices": [{"chip": {"type": 5},
      "tefra": {"records": ["01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20"]},
      "faults": [{"kind": "send_failure", "command": 27, "skip": 1}]}]})");
  r = Ktq("--simulate=" + scenario + " tefra " + log);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(SlurpFile(log), "old log");
  EXPECT_EQ(SlurpFile(log + ".incomplete").size(), 68u);
  EXPECT_THAT(r.err, ::testing::HasSubstr("ktq: the log is incomplete: 1 record kept in " + log + ".incomplete"));
}

// Ctrl-C during the write: the first only warns, the second stops after the
// current chunk, update mode is left and the state is said.
TEST_F(KtqProductionTest, SecondCtrlCStopsTheFlashAfterTheCurrentChunk) {
  const std::string scenario =
      Write("slow.json", R"({"devices": [{"chip": {"type": 5}, "timing": {"latency_us": 200}}]})");
  const std::string err = TestPath("err.txt"), trace = TestPath("trace.txt");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::freopen(err.c_str(), "w", stderr);
    std::freopen("/dev/null", "w", stdout);
    execl(KTQ_BINARY_DIR "/bin/ktq", "ktq", ("--simulate=" + scenario).c_str(), "--trace", trace.c_str(), "flash",
          "-y", image.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (SlurpFile(err).find("Updating firmware...") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(pid, SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGINT);
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 130);
  const std::string text = SlurpFile(err);
  EXPECT_THAT(text, ::testing::HasSubstr("stopping now leaves the converter without working firmware"));
  EXPECT_THAT(text, ::testing::HasSubstr("Write flash STOPPED at index: "));
  EXPECT_THAT(text, ::testing::HasSubstr("run the same command again before unplugging it"));
  // The last request is the disable that leaves update mode.
  std::ifstream in(trace);
  std::string line, lastOut;
  while (std::getline(in, line))
    if (line.find(" OUT ") != std::string::npos) lastOut = line;
  EXPECT_THAT(lastOut, ::testing::HasSubstr(" OUT 01 00 0C 00 00 82 "));
}

TEST_F(KtqProductionTest, EveryRemainingExitStatusAndMessage) {
  // A converter found but not opened (permissions): its node and the cure.
  const std::string locked = Write("locked.json", R"({"devices": [{"path": "/dev/hidraw7", "open_fails": true}]})");
  KtqRun r = Ktq("--simulate=" + locked + " info");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "ktq: the converter at /dev/hidraw7 cannot be opened: most likely no permission for the hidraw "
                   "node (ls -l /dev/hidraw7). Install the udev rule (see the README, 'Access to the converter'), "
                   "then re-plug the converter.\n");

  // A trace that cannot be written is reported, and the run is no success.
  const std::string limited = "sh -c \"trap '' XFSZ; ulimit -f 1; exec " KTQ_BINARY_DIR "/bin/ktq --simulate --trace " +
                              TestPath("limited.txt") + " read 0x20200D30 32\" >" + TestPath("o.txt") + " 2>" +
                              TestPath("e.txt");
  const int raw = std::system(limited.c_str());
  EXPECT_EQ(WEXITSTATUS(raw), 4);
  EXPECT_THAT(SlurpFile(TestPath("e.txt")),
              ::testing::HasSubstr("ktq: the trace file " + TestPath("limited.txt") + " could not be written: "));

  // Address 0 is read like any other.
  r = Ktq("--simulate read 0 4");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "00000000: 00 00 00 00\n");

  // -q: only the requested output and errors.
  r = Ktq("--simulate -q flash --yes " + image);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

// An EDID whose extension block cannot be read is still printed (the block
// as zeros), but the run is no success and says what is missing.
TEST_F(KtqProductionTest, PartialEdidIsPrintedAndReportedAsIncomplete) {
  const std::string scenario = Write("edid.json", R"({"devices": [{"chip": {"type": 6},
      "edid": {"outputs": [{"file": ")" KTQ_SOURCE_DIR R"(/sim/scenarios/edids/tv-4k.bin"}]},
      "faults": [{"kind": "status", "command": "0x51", "address": 256, "status": 5}]}]})");
  const KtqRun r = Ktq("--simulate=" + scenario + " edid read 1");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, ::testing::StartsWith("00 ff ff ff ff ff ff 00"));
  EXPECT_EQ(r.err, "ktq: 1 of 3 extension blocks could not be read; they are shown as zeros.\n");
}

TEST_F(KtqProductionTest, RegisterDescriptionsShowNumbersNotTemplateArithmetic) {
  const KtqRun r = Ktq("--simulate=" KTQ_SOURCE_DIR "/sim/scenarios/type6-converter.json reg read TX0_DP_AUX_WDATA3");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, ::testing::HasSubstr("  Port 0 AUX request bytes 12 to 15.\n"));
}

}  // namespace
}  // namespace ktq::testing

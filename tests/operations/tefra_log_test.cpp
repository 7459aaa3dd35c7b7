// Tefra log capture over the virtual converter: which records reach the
// file, the control commands around the capture, and the ways it ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "device/rc_command.h"
#include "operations/tefra_log.h"
#include "sim/tefra_log_model.h"
#include "tests/operations/ops_fixture.h"

namespace ktq::testing {
namespace {

// A record whose validity byte (byte 2) is `mark` and whose other bytes
// tell records apart.
std::string RecordHex(uint8_t mark, uint8_t fill) {
  std::string hex;
  for (int i = 0; i < 32; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02X ", i == 2 ? mark : static_cast<uint8_t>(fill + i));
    hex += byte;
  }
  return hex;
}

std::string RecordInFile(uint8_t mark, uint8_t fill) {
  std::string bytes;
  for (int i = 0; i < 32; ++i) bytes += static_cast<char>(i == 2 ? mark : static_cast<uint8_t>(fill + i));
  return bytes + std::string(36, '\0');
}

std::string LogScenario(const std::vector<std::string>& records, const std::string& extra = "") {
  std::string list;
  for (const auto& r : records) list += (list.empty() ? "\"" : ", \"") + r + "\"";
  return Scenario(5, R"(, "tefra": {"records": [)" + list + R"(], "final_status": 7})" + extra);
}

class TefraLogTest : public OpsFixture {
 protected:
  // Runs the capture with standard output captured.
  int32_t Capture(const std::string& path, bool sendControl) {
    ::testing::internal::CaptureStdout();
    const int32_t result = RCSaveTefraLog(path.c_str(), sendControl);
    std::fflush(stdout);
    stdoutText = ::testing::internal::GetCapturedStdout();
    return result;
  }

  std::string stdoutText;
};

TEST_F(TefraLogTest, ValidRecordsAreStoredPaddedAndTheEndStatusIsPrinted) {
  sim::VirtualConverter& c =
      Open(LogScenario({RecordHex(5, 0x10), RecordHex(60, 0x40), RecordHex(59, 0x70)}));
  const std::string path = TestPath("tefra.bin");

  EXPECT_EQ(Capture(path, true), 0);

  EXPECT_EQ(ReadFile(path), RecordInFile(5, 0x10) + RecordInFile(59, 0x70));
  EXPECT_EQ(stdoutText, "READ FROM TEFRA failed: 07\n");
  EXPECT_EQ(Reports::Messages(), "Save embedded tefra log...finished.\r\n");
  EXPECT_EQ(Commands(c), (std::vector<uint8_t>{UPDC_TEFRA_LOG_CONTROL, UPDC_READ_TEFRA_LOG, UPDC_READ_TEFRA_LOG,
                                               UPDC_READ_TEFRA_LOG, UPDC_READ_TEFRA_LOG, UPDC_TEFRA_LOG_CONTROL}));
  EXPECT_EQ(Requests(c)[0], MakeRequest(UPDC_TEFRA_LOG_CONTROL, 0, 0, {}));
  EXPECT_EQ(Requests(c)[1], MakeRequest(UPDC_READ_TEFRA_LOG, 0, 32, {}));
  EXPECT_TRUE(c.ProtocolErrors().empty());
  std::remove(path.c_str());
}

TEST_F(TefraLogTest, WithoutTheFlagOnlyTheClosingControlIsSent) {
  sim::VirtualConverter& c = Open(LogScenario({RecordHex(1, 0)}));
  const std::string path = TestPath("noflag.bin");

  EXPECT_EQ(Capture(path, false), 0);
  EXPECT_EQ(Commands(c), (std::vector<uint8_t>{UPDC_READ_TEFRA_LOG, UPDC_READ_TEFRA_LOG, UPDC_TEFRA_LOG_CONTROL}));
  EXPECT_EQ(ReadFile(path), RecordInFile(1, 0));
  std::remove(path.c_str());
}

// How a capture ends: a status from the device ends the log, and the file
// then replaces the old one; a failed transfer or a removal cuts it short,
// and the records read so far are kept beside the old file, which stays.
struct EndCase {
  const char* name;
  const char* extra;
  const char* stdoutText;
  size_t records;  // records stored
  int32_t result;
};

class TefraEndTest : public TefraLogTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(TefraEndTest, OnlyAStatusEndsTheLogAndAnIncompleteOneLeavesTheOldFile) {
  const EndCase& ec = GetParam();
  Open(LogScenario({RecordHex(1, 0), RecordHex(2, 0x20)}, ec.extra));
  const std::string path = TestPath(std::string(ec.name) + ".bin");
  WriteFile(std::string(ec.name) + ".bin", std::vector<uint8_t>{'o', 'l', 'd'});
  ktq::TefraCapture capture;

  ::testing::internal::CaptureStdout();
  EXPECT_EQ(SaveTefraLog(path.c_str(), true, capture), ec.result);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), ec.stdoutText);
  const std::string expected = (RecordInFile(1, 0) + RecordInFile(2, 0x20)).substr(0, ec.records * 68);
  EXPECT_EQ(capture.records, ec.records);
  EXPECT_EQ(capture.complete, ec.result == 0);
  if (ec.result == 0) {
    EXPECT_EQ(capture.savedTo, path);
    EXPECT_EQ(ReadFile(path), expected);
    EXPECT_EQ(Reports::Messages(), "Save embedded tefra log...finished.\r\n");
  } else {
    EXPECT_EQ(capture.savedTo, path + ".incomplete");
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(ReadFile(path + ".incomplete"), expected);
    EXPECT_EQ(Reports::Messages(), "Save embedded tefra log...Log incomplete: " + std::to_string(ec.records) +
                                       (ec.records == 1 ? " record" : " records") + " saved to " + path +
                                       ".incomplete\n");
  }
  // Nothing is left beside the target.
  EXPECT_FALSE(std::filesystem::exists(path + ".part-" + std::to_string(getpid())));
  std::remove((path + ".incomplete").c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Ends, TefraEndTest,
    ::testing::Values(
        EndCase{"FirstReadRefused", R"(, "faults": [{"kind": "status", "command": 27, "status": 9}])",
                "READ FROM TEFRA failed: 09\n", 0, 0},
        EndCase{"LogRunsOut", "", "READ FROM TEFRA failed: 07\n", 2, 0},
        // A read that never completes is -1 from the command layer: ff.
        EndCase{"SecondReadTimesOut", R"(, "faults": [{"kind": "never_complete", "command": 27, "skip": 1}])",
                "READ FROM TEFRA failed: ff\n", 1, -1},
        EndCase{"ThirdReadNotSent", R"(, "faults": [{"kind": "send_failure", "command": 27, "skip": 2}])",
                "RCGetCommand : Usb2 set output report failed:\rREAD FROM TEFRA failed: ff\n", 2, -1},
        // Out of RC mode, and every request to enter it refused: status 4
        // says the reads never reached the log, not that it ended.
        EndCase{"RcModeCannotBeEnabled",
                R"(, "rc_mode": false, "faults": [{"kind": "status", "command": 1, "status": 225, "times": 0}])",
                "READ FROM TEFRA failed: 04\n", 0, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TefraLogTest, FileThatCannotBeCreatedIsReportedBeforeAnythingIsSent) {
  sim::VirtualConverter& c = Open(LogScenario({RecordHex(1, 0)}));
  EXPECT_EQ(Capture(TestPath("no/such/dir/log.bin"), true), -1);
  EXPECT_EQ(Reports::Messages(), "Open file FAILED!!\n");
  EXPECT_TRUE(Requests(c).empty());

  // Not a regular file: renaming over it would destroy a device node.
  Reports::Reset();
  EXPECT_EQ(Capture("/dev/full", true), -1);
  EXPECT_EQ(Reports::Messages(), "Open file FAILED!!\n");
  EXPECT_TRUE(Requests(c).empty());
  struct stat st {};
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(TefraLogTest, NoDeviceMeansNoFileAndNoMessage) {
  const std::string path = TestPath("nodevice.bin");
  std::remove(path.c_str());
  EXPECT_EQ(RCSaveTefraLog(path.c_str(), true), -1);
  EXPECT_EQ(Reports::Messages(), "");
  EXPECT_FALSE(std::ifstream(path).good());
}

}  // namespace
}  // namespace ktq::testing

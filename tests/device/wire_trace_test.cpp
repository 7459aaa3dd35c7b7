// The wire trace records every primitive in its documented line format.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "device/wire_trace.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

using ::testing::ElementsAre;

class WireTraceTest : public SimFixture {
 protected:
  void TearDown() override {
    SimFixture::TearDown();
    StopWireTrace();
  }

  // The lines without their time stamps, after checking the stamps.
  std::vector<std::string> Lines() {
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    long long last = -1;
    while (std::getline(in, line)) {
      std::smatch m;
      EXPECT_TRUE(std::regex_match(line, m, std::regex("([0-9]+) (.*)"))) << line;
      const long long us = std::stoll(m[1]);
      EXPECT_GE(us, last);
      last = us;
      lines.push_back(m[2]);
    }
    return lines;
  }

  std::string path = ::ktq::testing::TestPath("trace.txt");
};

TEST_F(WireTraceTest, RecordsOpenTransfersFailuresRemovalAndClose) {
  RCExit();
  auto& c = host.AddConverter();
  c.Memory().WriteU32(0x20200D30, 0x20201105);
  std::string error;
  ASSERT_TRUE(StartWireTrace(path, error)) << error;
  ASSERT_EQ(RCInit(), 0);
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  uint8_t out[4];
  ASSERT_EQ(RCReadRegister(0x20200D30, 4, out), 0);
  c.AddFault(sim::Fault::FetchFailure(1));
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(RCReadRegister(0x20200D30, 1, out), 0);
  c.AddFault(sim::Fault::SendFailure());
  EXPECT_EQ(RCReadRegister(0x20200D30, 1, out), -1);
  ::testing::internal::GetCapturedStdout();
  c.Unplug();
  for (int i = 0; i < 5000 && Reports::removed == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  RCCloseDevice();
  StopWireTrace();

  std::string zeros46;
  for (int i = 0; i < 46; ++i) zeros46 += " 00";
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 11u);
  // The opened device as enumeration shows it, so a replay can present it.
  EXPECT_EQ(lines[0], "OPEN path=\"sim:0\" vid=3A7C pid=7101 serial=\"SIM0\" product=\"KTQ virtual converter\"");
  EXPECT_EQ(lines[1], "OUT 01 00 0C 00 00 B1 00 30 0D 20 20 04 00 00 00 C2" + zeros46);
  // The completing report (status only), then the data report.
  EXPECT_EQ(lines[2], "IN 01 00 0C 00 00 31 00 30 0D 20 20 04 00 00 00 42" + zeros46);
  EXPECT_EQ(lines[3], "IN 01 00 10 00 00 31 00 30 0D 20 20 04 00 00 00 05 11 20 20 E8" + zeros46.substr(12));
  EXPECT_EQ(lines[4].substr(0, 4), "OUT ");
  EXPECT_EQ(lines[5], "IN-FAIL");
  EXPECT_EQ(lines[6].substr(0, 3), "IN ");
  EXPECT_EQ(lines[7].substr(0, 3), "IN ");
  EXPECT_EQ(lines[8], "OUT-FAIL");
  EXPECT_EQ(lines[9], "REMOVED");
  EXPECT_EQ(lines[10], "CLOSE");
}

TEST_F(WireTraceTest, UnwritableFileIsAnError) {
  std::string error;
  EXPECT_FALSE(StartWireTrace("/nonexistent-dir/trace.txt", error));
  EXPECT_EQ(error, "cannot write trace file /nonexistent-dir/trace.txt: No such file or directory");
}

}  // namespace
}  // namespace ktq::testing

// RC requests and replies over the virtual converter.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "tests/support/sim_fixture.h"

namespace ktq::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class RcCommandTest : public SimFixture {};

TEST_F(RcCommandTest, ReadRequestIsByteExact) {
  auto& c = OpenConverter();
  c.Memory().WriteU32(0x20200D30, 0x20201105);
  uint8_t out[4] = {};
  ASSERT_EQ(RCReadRegister(0x20200D30, 4, out), 0);
  EXPECT_THAT(out, ElementsAre(0x05, 0x11, 0x20, 0x20));

  sim::Report expected{0x01, 0x00, 0x0C, 0x00, 0x00, 0xB1, 0x00, 0x30, 0x0D, 0x20, 0x20, 0x04, 0x00, 0x00, 0x00, 0xC2};
  EXPECT_THAT(Requests(c), ElementsAre(expected));
  EXPECT_EQ(FetchCount(c), 2u);  // completion, then data
  EXPECT_THAT(c.ProtocolErrors(), IsEmpty());
}

TEST_F(RcCommandTest, ReadOf33BytesIsTwoChunks) {
  auto& c = OpenConverter();
  std::vector<uint8_t> pattern(33);
  std::iota(pattern.begin(), pattern.end(), 0x40);
  c.Memory().Write(0x90000000, pattern.data(), pattern.size());
  std::vector<uint8_t> out(33);
  ASSERT_EQ(RCGetCommand(UPDC_READ_FROM_MEMORY, 33, 0x90000000, out.data()), 0);
  EXPECT_EQ(out, pattern);
  EXPECT_THAT(Requests(c), ElementsAre(MakeRequest(0x31, 0x90000000, 32, {}), MakeRequest(0x31, 0x90000020, 1, {})));
  EXPECT_THAT(c.ProtocolErrors(), IsEmpty());
}

TEST_F(RcCommandTest, WriteOf40BytesIsTwoChunksWithTheirPayload) {
  auto& c = OpenConverter();
  std::vector<uint8_t> data(40);
  std::iota(data.begin(), data.end(), 1);
  ASSERT_EQ(RCWriteRegister(0x90000010, 40, data.data()), 0);
  EXPECT_THAT(Requests(c), ElementsAre(MakeRequest(0x21, 0x90000010, 32, {data.begin(), data.begin() + 32}),
                                       MakeRequest(0x21, 0x90000030, 8, {data.begin() + 32, data.end()})));
  std::vector<uint8_t> stored(40);
  c.Memory().Read(0x90000010, stored.data(), stored.size());
  EXPECT_EQ(stored, data);
  EXPECT_THAT(c.ProtocolErrors(), IsEmpty());
}

TEST_F(RcCommandTest, ZeroLengthSetSendsOneRequestWithoutPayload) {
  auto& c = OpenConverter();
  ASSERT_EQ(RCSetCommand(UPDC_DISABLE_RC, 0, 0, nullptr), 0);
  sim::Report expected{0x01, 0x00, 0x0C, 0x00, 0x00, 0x82, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x72};
  EXPECT_THAT(Requests(c), ElementsAre(expected));
  EXPECT_FALSE(c.RcModeEnabled());
}

TEST_F(RcCommandTest, ZeroLengthGetFailsWithoutSending) {
  auto& c = OpenConverter();
  uint8_t out[1];
  EXPECT_EQ(RCGetCommand(UPDC_READ_FROM_MEMORY, 0, 0x1000, out), -1);
  EXPECT_THAT(Requests(c), IsEmpty());
}

TEST_F(RcCommandTest, NoDeviceGivesMinusTwoAndSendsNothing) {
  auto& c = host.AddConverter();
  c.SetTransferLog(true);
  uint8_t buffer[4] = {1, 2, 3, 4};
  EXPECT_EQ(RCSetCommand(UPDC_WRITE_TO_MEMORY, 4, 0x1000, buffer), -2);
  EXPECT_EQ(RCGetCommand(UPDC_READ_FROM_MEMORY, 4, 0x1000, buffer), -2);
  EXPECT_EQ(RCReadRegister(0x1000, 4, buffer), -2);
  EXPECT_EQ(RCWriteRegister(0x1000, 4, buffer), -2);
  EXPECT_EQ(c.RequestCount(), 0u);
}

TEST_F(RcCommandTest, AddressZeroIsAnsweredWithoutTheDevice) {
  auto& c = OpenConverter();
  uint8_t out[3] = {9, 9, 9};
  EXPECT_EQ(RCReadRegister(0, 3, out), 1);
  EXPECT_THAT(out, ElementsAre(0, 0, 0));
  EXPECT_EQ(RCWriteRegister(0, 3, out), 1);
  EXPECT_EQ(c.RequestCount(), 0u);
}

TEST_F(RcCommandTest, StatusFourOnWriteEnablesRcModeAndRepeatsTheChunk) {
  auto& c = OpenConverter();
  c.SetPowerOnRcMode(false);
  const std::vector<uint8_t> data{1, 2, 3, 4};
  ASSERT_EQ(RCWriteRegister(0x90000000, 4, data.data()), 0);
  const auto write = MakeRequest(0x21, 0x90000000, 4, data);
  EXPECT_THAT(Requests(c), ElementsAre(write, MakeRequest(0x01, 0, 5, CodeWord()), write));
  EXPECT_EQ(c.Memory().ReadU32(0x90000000), 0x04030201u);
  EXPECT_THAT(c.ProtocolErrors(), IsEmpty());
}

TEST_F(RcCommandTest, StatusFourOnReadRepairsIntoTheSameDestination) {
  auto& c = OpenConverter();
  std::vector<uint8_t> pattern(40, 0xA5);
  c.Memory().Write(0x5000, pattern.data(), pattern.size());
  // The mode drops after the first chunk, as after a firmware restart.
  c.AddFault(sim::Fault::Status(4).AtAddress(0x5020));
  std::vector<uint8_t> out(40);
  ASSERT_EQ(RCReadRegister(0x5000, 40, out.data()), 0);
  EXPECT_EQ(out, pattern);
  EXPECT_THAT(Requests(c), ElementsAre(MakeRequest(0x31, 0x5000, 32, {}), MakeRequest(0x31, 0x5020, 8, {}),
                                       MakeRequest(0x01, 0, 5, CodeWord()), MakeRequest(0x31, 0x5020, 8, {})));
}

TEST_F(RcCommandTest, StatusFourRepairIsBoundedPerChunk) {
  auto& c = OpenConverter();
  c.AddFault(sim::Fault::Status(4).OnCommand(UPDC_WRITE_TO_MEMORY).Always());
  const uint8_t data[2] = {7, 8};
  EXPECT_EQ(RCWriteRegister(0x90000000, 2, data), 4);
  const auto write = MakeRequest(0x21, 0x90000000, 2, {7, 8});
  const auto enable = MakeRequest(0x01, 0, 5, CodeWord());
  EXPECT_THAT(Requests(c), ElementsAre(write, enable, write, enable, write, enable, write));
  static_assert(kMaxReenablesPerChunk == 3);
}

TEST_F(RcCommandTest, StatusFourOnEnableItselfEndsAtOnce) {
  auto& c = OpenConverter();
  c.AddFault(sim::Fault::Status(4).OnCommand(UPDC_ENABLE_RC).Always());
  EXPECT_EQ(RCSetCommand(UPDC_ENABLE_RC, 5, 0, reinterpret_cast<const uint8_t*>(kRcCodeWord)), 4);
  EXPECT_EQ(c.RequestCount(), 1u);
}

TEST_F(RcCommandTest, FailedReEnableGivesFour) {
  auto& c = OpenConverter();
  c.SetPowerOnRcMode(false);
  c.AddFault(sim::Fault::Status(0x33).OnCommand(UPDC_ENABLE_RC));
  uint8_t out[4];
  EXPECT_EQ(RCReadRegister(0x1000, 4, out), 4);
  EXPECT_EQ(c.RequestCount(), 2u);
}

TEST_F(RcCommandTest, OtherStatusEndsTheCallAndKeepsCompletedChunks) {
  auto& c = OpenConverter();
  c.AddFault(sim::Fault::Status(0xE2).AtAddress(0x90000020));
  std::vector<uint8_t> data(64, 0x5A);
  EXPECT_EQ(RCWriteRegister(0x90000000, 64, data.data()), 0xE2);
  EXPECT_EQ(c.RequestCount(), 2u);
  uint8_t first[32], second[32];
  c.Memory().Read(0x90000000, first, 32);
  c.Memory().Read(0x90000020, second, 32);
  EXPECT_THAT(first, ::testing::Each(0x5A));
  EXPECT_THAT(second, ::testing::Each(0x00));
}

TEST_F(RcCommandTest, PendingRepliesArePolledAgainWithoutSleeping) {
  auto& c = OpenConverter();
  c.Timing().pendingPolls = 25;
  c.Memory().WriteU32(0x1000, 0xCAFEF00D);
  uint8_t out[4];
  ASSERT_EQ(RCReadRegister(0x1000, 4, out), 0);
  EXPECT_EQ(out[0] | out[1] << 8 | out[2] << 16 | static_cast<uint32_t>(out[3]) << 24, 0xCAFEF00Du);
  EXPECT_EQ(FetchCount(c), 27u);  // 25 pending, the completion, the data
  EXPECT_THAT(FakeClock::sleeps, IsEmpty());
}

TEST_F(RcCommandTest, ReplyThatNeverCompletesEndsWithinTheBudget) {
  auto& c = OpenConverter();
  c.AddFault(sim::Fault::NeverComplete().Always());
  uint8_t out[4];
  const auto start = FakeClock::now;
  EXPECT_EQ(RCReadRegister(0x1000, 4, out), -1);
  const auto spent = FakeClock::now - start;
  EXPECT_GE(spent, std::chrono::seconds(5));
  EXPECT_LT(spent, std::chrono::milliseconds(5010));
  EXPECT_EQ(c.RequestCount(), 1u);
}

TEST_F(RcCommandTest, FailedFetchesPauseHalfASecondEach) {
  auto& c = OpenConverter();
  // Three failed polls, then the reply completes.
  c.AddFault(sim::Fault::FetchFailure(1, 3));
  const uint8_t data[1] = {1};
  EXPECT_EQ(RCWriteRegister(0x1000, 1, data), 0);
  EXPECT_EQ(FetchCount(c), 1u);  // the fourth, successful poll (failures are not logged)
  EXPECT_THAT(FakeClock::sleeps, ElementsAre(std::chrono::microseconds(500'000), std::chrono::microseconds(500'000),
                                             std::chrono::microseconds(500'000)));
}

TEST_F(RcCommandTest, EraseWaitsWithPausesAndItsOwnBudget) {
  // The core model has no flash; a reply that never completes is enough to
  // show the erase wait's pause and budget.
  auto& c = OpenConverter();
  c.AddFault(sim::Fault::NeverComplete().Always());
  const uint8_t ff[2] = {0xFF, 0xFF};
  const auto start = FakeClock::now;
  EXPECT_EQ(RCSetCommand(UPDC_ERASE_FLASH, 2, 0, ff), -1);
  const auto spent = FakeClock::now - start;
  EXPECT_GE(spent, std::chrono::seconds(60));
  EXPECT_LT(spent, std::chrono::seconds(61));
  ASSERT_FALSE(FakeClock::sleeps.empty());
  for (auto s : FakeClock::sleeps) EXPECT_EQ(s, std::chrono::microseconds(100'000));
}

TEST_F(RcCommandTest, SendFailureIsReportedOnStandardOutput) {
  auto& c = OpenConverter();
  c.AddFault(sim::Fault::SendFailure().Always());
  const uint8_t data[1] = {1};
  uint8_t out[1];
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(RCWriteRegister(0x1000, 1, data), -1);
  EXPECT_EQ(RCReadRegister(0x1000, 1, out), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "RCSetCommand : Usb2 set output report failed\rRCGetCommand : Usb2 set output report failed:\r");
}

TEST_F(RcCommandTest, LostDataReportIsReportedOnStandardOutput) {
  auto& c = OpenConverter();
  c.AddFault(sim::Fault::FetchFailure(2));
  uint8_t out[4] = {};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(RCReadRegister(0x1000, 4, out), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Get Input Report failed\r");
}

TEST_F(RcCommandTest, RestartWriteExpectsNoReply) {
  auto& c = OpenConverter();
  const uint8_t restart[1] = {0xF5};
  EXPECT_EQ(RCWriteRegister(0x2000FC, 1, restart), 0);
  EXPECT_EQ(c.RequestCount(), 1u);
  EXPECT_EQ(FetchCount(c), 0u);
}

TEST_F(RcCommandTest, DeviceStatusOfARefusedCommandReachesTheCaller) {
  // The model refuses a command it does not know with a status of its own.
  auto& c = OpenConverter();
  uint8_t out[4];
  EXPECT_EQ(RCGetCommand(0x7F, 4, 0, out), sim::kStatusUnknownCommand);
  EXPECT_THAT(c.ProtocolErrors(), ElementsAre("request 1: unknown RC command 0x7F"));
}

}  // namespace
}  // namespace ktq::testing

// I2C master and the RDX4410 mailbox over the virtual converter: the report
// bytes, the speed search, the read retry rule and the mailbox protocol.
#include <gtest/gtest.h>

#include "chipdb/register_db.h"
#include "i2c/i2c_master.h"
#include "device/rc_command.h"
#include "sim/flash_model.h"
#include "sim/i2c_master_model.h"
#include "tests/operations/ops_fixture.h"

namespace ktq::testing {
namespace {

constexpr uint32_t kSpad0 = 0x20200280;
constexpr uint32_t kSpad4 = 0x20200290;
constexpr uint32_t kSwInterrupt = 0x2020021C;
constexpr uint32_t kFwVersion = 0x20200230;

sim::Report Bytes(std::vector<uint8_t> head) {
  sim::Report r{};
  std::copy(head.begin(), head.end(), r.begin());
  return r;
}

// One I2C write transaction the converter received: register address and data.
struct I2cWrite {
  uint32_t address;
  std::vector<uint8_t> data;
  bool operator==(const I2cWrite& o) const { return address == o.address && data == o.data; }
};

std::vector<I2cWrite> I2cWrites(const sim::VirtualConverter& c) {
  std::vector<I2cWrite> out;
  for (const auto& r : Requests(c)) {
    if (r[1] != 0x10 || r[4] != 1) continue;
    const uint32_t address = r[8] | r[9] << 8 | r[10] << 16 | static_cast<uint32_t>(r[11]) << 24;
    out.push_back({address, std::vector<uint8_t>(r.begin() + 12, r.begin() + 12 + (r[5] - 7))});
  }
  return out;
}

std::vector<uint8_t> Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class I2cMasterTest : public OpsFixture {
 protected:
  void SetUp() override {
    OpsFixture::SetUp();
    // No speed settled: a search without a device finds none.
    ::testing::internal::CaptureStdout();
    I2CMSettleSpeed();
    ::testing::internal::GetCapturedStdout();
  }

  sim::VirtualConverter& OpenWithCompanion(const std::string& rdx = "", const std::string& extra = "") {
    sim::VirtualConverter& c = Open(Scenario(5, R"(, "rdx4410": {)" + rdx + "}" + extra));
    I2CMSetTarget(25, 0x72);
    return c;
  }

  template <typename F>
  std::string Stdout(F&& f) {
    ::testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
  }
};

TEST_F(I2cMasterTest, ReportsAreByteExact) {
  sim::VirtualConverter& c = OpenWithCompanion();

  I2CMSetSpeed(0, 400);
  uint8_t word[4] = {};
  EXPECT_EQ(I2CMRead(kSpad0, 4, word), 0);
  const uint8_t trigger[4] = {0xF2, 0, 0, 0};
  EXPECT_EQ(I2CMWrite(kSwInterrupt, 4, trigger), 0);

  const auto requests = Requests(c);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], Bytes({0x01, 0x11, 0x03, 0x00, 0x90, 0x01, 0x5B}));
  EXPECT_EQ(requests[1], Bytes({0x01, 0x10, 0x0E, 0x00, 0x02, 0x07, 0x01, 0x72, 0x80, 0x02, 0x20, 0x20, 0x03, 0x01,
                                0x73, 0x04, 0x02}));
  EXPECT_EQ(requests[2],
            Bytes({0x01, 0x10, 0x0D, 0x00, 0x01, 0x0B, 0x03, 0x72, 0x1C, 0x02, 0x20, 0x20, 0xF2, 0x00, 0x00, 0x00}));
  EXPECT_EQ(sim::Flash(c).mainHoldsSpiBus, false);
  EXPECT_TRUE(c.ProtocolErrors().empty());
}

struct ModeCase {
  uint8_t mode;
  uint8_t bus;
  uint8_t width;
};

TEST_F(I2cMasterTest, ModeSelectsBusAndAddressWidthAndReadsAlwaysSayLength14) {
  sim::VirtualConverter& c = OpenWithCompanion();
  const ModeCase cases[] = {{16, 0, 1}, {17, 0, 2}, {18, 1, 1}, {19, 1, 2}, {20, 2, 1}, {21, 2, 2},
                            {22, 0, 4}, {25, 0, 4}, {26, 1, 4}, {27, 2, 4}, {99, 0, 4}};
  for (const ModeCase& m : cases) {
    I2CMSetTarget(m.mode, 0x50);  // nobody answers at 0x50
    uint8_t byte = 0;
    EXPECT_EQ(I2CMRead(0x0A0B0C0D, 1, &byte), sim::kI2CResultNack);
    const sim::Report r = Requests(c).back();
    const uint8_t w = m.width;
    sim::Report expected{};
    const std::vector<uint8_t> head = {0x01, 0x10, 14, m.bus, 0x02, static_cast<uint8_t>(3 + w), 0x01, 0x50};
    std::copy(head.begin(), head.end(), expected.begin());
    for (uint8_t i = 0; i < w; ++i) expected[8 + i] = static_cast<uint8_t>(0x0A0B0C0D >> (8 * i));
    const std::vector<uint8_t> second = {0x03, 0x01, 0x51, 0x01, 0x02};
    std::copy(second.begin(), second.end(), expected.begin() + 8 + w);
    EXPECT_EQ(r, expected) << "mode " << int(m.mode);
  }
}

TEST_F(I2cMasterTest, SpeedSettlesAtTheFastestWorkingSpeed) {
  sim::VirtualConverter& c = OpenWithCompanion(R"("max_speed_khz": 400)");
  EXPECT_EQ(Stdout([] { I2CMSettleSpeed(); }), "I2CM speed settled at 400Khz\n");
  EXPECT_EQ(I2CMSpeedKhz(), 400);
  const auto& speeds = c.Extension<sim::I2cMasterState>().speedReports;
  EXPECT_EQ(speeds, (std::vector<std::pair<uint8_t, uint16_t>>{{0, 1000}, {0, 800}, {0, 600}, {0, 400}}));
}

TEST_F(I2cMasterTest, NoWorkingSpeedLeavesTheBusAt100AndTheSpeedUnset) {
  sim::VirtualConverter& c = OpenWithCompanion(R"("silent": true)");
  EXPECT_EQ(Stdout([] { I2CMSettleSpeed(); }), "Can't find proper I2C speed");
  EXPECT_EQ(I2CMSpeedKhz(), 0);
  EXPECT_EQ(c.Extension<sim::I2cMasterState>().speedKhz[0], 100);
}

TEST_F(I2cMasterTest, InvalidReplyIsReportedWithStateThenType) {
  OpenWithCompanion("", R"(, "i2c": {"invalid_replies": 1})");
  uint8_t word[4] = {};
  std::string out = Stdout([&] { EXPECT_EQ(I2CMRead(kSpad0, 4, word), -2); });
  EXPECT_EQ(out, "Invalid I2CM reply packet: 02 00\r\n");
}

TEST_F(I2cMasterTest, FailedReadIsRetriedOnceOnlyAfterTheSpeedIsSettled) {
  const std::string fault = R"(, "i2c": {"failing_read_address": "0x20200230", "failing_reads": 1})";
  {
    sim::VirtualConverter& c = OpenWithCompanion("", fault);
    uint8_t word[4] = {};
    std::string out = Stdout([&] { EXPECT_EQ(I2CMRead(kFwVersion, 4, word), sim::kI2CResultBusError); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(c.Extension<sim::I2cMasterState>().transactions, 1u);
  }
  RCCloseDevice();
  host.Converter(0).Unplug();

  sim::VirtualHost second;
  second.Install();
  std::string error;
  ASSERT_TRUE(sim::LoadScenarioText(Scenario(5, R"(, "rdx4410": {})" + fault), second, error)) << error;
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  I2CMSetTarget(25, 0x72);
  Stdout([] { I2CMSettleSpeed(); });
  ASSERT_EQ(I2CMSpeedKhz(), 400);
  uint8_t word[4] = {};
  std::string out = Stdout([&] { EXPECT_EQ(I2CMRead(kFwVersion, 4, word), 0); });
  EXPECT_EQ(out, "I2C operation error: 3, retry one more time\r\n");
  RCCloseDevice();
  second.Uninstall();
  host.Install();
}

TEST_F(I2cMasterTest, RunningTransactionIsPolledWithAPauseAfterEvery101stFetch) {
  sim::VirtualConverter& c = OpenWithCompanion();
  c.Timing().pendingPolls = 250;  // state 1 for 250 fetches, then 2
  FakeClock::sleeps.clear();
  uint8_t word[4] = {};
  EXPECT_EQ(I2CMRead(kSpad0, 4, word), 0);
  EXPECT_EQ(FetchCount(c), 251u);
  EXPECT_EQ(FakeClock::sleeps, (std::vector<std::chrono::microseconds>{std::chrono::milliseconds(1),
                                                                       std::chrono::milliseconds(1)}));
}

TEST_F(I2cMasterTest, TransactionThatNeverFinishesIsMinus1AndALostConverterMinus16) {
  sim::VirtualConverter& c = OpenWithCompanion();
  c.Timing().pendingPolls = UINT32_MAX;
  uint8_t word[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  std::string out = Stdout([&] { EXPECT_EQ(I2CMRead(kSpad0, 4, word), -1); });
  EXPECT_EQ(out, "");
  EXPECT_EQ(word[0], 0xAA);  // nothing copied from a reply that never came

  c.Timing().pendingPolls = 0;
  c.Unplug();
  out = Stdout([&] { EXPECT_EQ(I2CMWrite(kSpad4, 4, word), -16); });
  EXPECT_EQ(out, "I2CM_RC_USB: Usb2 set output report failed \r");
}

class MailboxTest : public I2cMasterTest {
 protected:
  sim::VirtualConverter& OpenMailbox(const std::string& rdx = "") {
    sim::VirtualConverter& c = OpenWithCompanion(rdx);
    EXPECT_EQ(LoadRegisterDatabase(4), 0);
    return c;
  }
  void TearDown() override {
    LoadRegisterDatabase(5);
    I2cMasterTest::TearDown();
  }
};

TEST_F(MailboxTest, FortyBytesGoAsTwoChunksEachWithItsOwnCommandWordAddressAndCount) {
  sim::VirtualConverter& c = OpenMailbox();
  ASSERT_EQ(RCI2CSetCommand(UPDC_ENABLE_RC, 5, 0, reinterpret_cast<const uint8_t*>("TAMBO")), 0);
  c.SetTransferLog(true);
  std::vector<uint8_t> data(40);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);

  EXPECT_EQ(RCI2CSetCommand(UPDC_WRITE_TO_MEMORY, 40, 0x90001000, data.data()), 0);

  const std::vector<uint8_t> command = Le32(0x00A10000);
  const std::vector<I2cWrite> expected = {
      {kSpad4, std::vector<uint8_t>(data.begin(), data.begin() + 16)},
      {kSpad4 + 16, std::vector<uint8_t>(data.begin() + 16, data.begin() + 32)},
      {kSpad0, Concat({command, Le32(0x90001000), Le32(32)})},
      {kSwInterrupt, Le32(0xF2)},
      {kSpad4, std::vector<uint8_t>(data.begin() + 32, data.end())},
      {kSpad0, Concat({command, Le32(0x90001020), Le32(8)})},
      {kSwInterrupt, Le32(0xF2)},
  };
  EXPECT_EQ(I2cWrites(c), expected);
  const auto& stored = sim::CompanionChip(c)->dataMemory();
  ASSERT_EQ(stored.size(), 40u);
  for (size_t i = 0; i < 40; ++i) EXPECT_EQ(stored.at(0x90001000 + i), data[i]);
}

TEST_F(MailboxTest, FiveByteChunkIsWrittenAsEightAndRcModeIsRepairedOnStatus4) {
  sim::VirtualConverter& c = OpenMailbox(R"("mcu_pending_reads": 3)");
  const uint8_t value[4] = {1, 2, 3, 4};

  // The MCU starts with RC mode off: status 4, enable, the chunk again.
  EXPECT_EQ(RCI2CSetCommand(UPDC_WRITE_TO_MEMORY, 4, 0x90000010, value), 0);

  EXPECT_EQ(sim::CompanionChip(c)->commandsRun(), (std::vector<uint8_t>{0x21, 0x01, 0x21}));
  const std::vector<I2cWrite> writes = I2cWrites(c);
  ASSERT_EQ(writes.size(), 9u);
  EXPECT_EQ(writes[3], (I2cWrite{kSpad4, {'T', 'A', 'M', 'B', 'O', 0, 0, 0}}));
  EXPECT_EQ(writes[4], (I2cWrite{kSpad0, Concat({Le32(0x00810000), Le32(0), Le32(5)})}));
}

TEST_F(MailboxTest, RepairIsBoundedWhenRcModeNeverComesOn) {
  sim::VirtualConverter& c = OpenMailbox(R"("enable_ignored": true)");
  EXPECT_EQ(RCI2CSetCommand(UPDC_DISABLE_RC, 0, 0, nullptr), 4);
  EXPECT_EQ(sim::CompanionChip(c)->commandsRun(), (std::vector<uint8_t>{2, 1, 2, 1, 2, 1, 2}));
}

struct TimeoutCase {
  const char* name;
  const char* rdx;
  uint32_t length;
  int32_t result;
  const char* stdoutText;
};

class MailboxTimeoutTest : public MailboxTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(MailboxTimeoutTest, PendingCommandAfterTheBudgetIsRetriggeredOncePerCall) {
  const TimeoutCase& tc = GetParam();
  OpenMailbox(tc.rdx);
  const std::vector<uint8_t> data(tc.length, 0x11);
  int32_t result = 0;
  const std::string out = Stdout([&] {
    result = RCI2CSetCommand(UPDC_WRITE_TO_MEMORY, tc.length, 0x90000000, data.data());
  });
  EXPECT_EQ(result, tc.result);
  EXPECT_EQ(out, tc.stdoutText);
}

INSTANTIATE_TEST_SUITE_P(
    Timeouts, MailboxTimeoutTest,
    ::testing::Values(
        // The first trigger is lost; the retrigger counts the chunk as done.
        TimeoutCase{"OneLostTrigger", R"("missed_triggers": 1)", 4, 0, "Retry to trigger the register again\r"},
        // Lost: the first chunk's trigger and its retrigger, then the second
        // chunk's trigger.
        TimeoutCase{"SecondTimeoutInTheCall", R"("missed_triggers": 3)", 40, 3,
                    "Retry to trigger the register again\rAlready retry on other registers\r"},
        TimeoutCase{"InterruptNeverTaken", R"("mcu_hung": true)", 4, 2, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(I2cMasterTest, WithoutADeviceNothingIsSent) {
  I2CMRequest request;
  request.mode = 25;
  request.slaveAddress = 0x72;
  request.registerAddress = kSpad0;
  request.readLength = 4;
  uint8_t word[4] = {};
  EXPECT_EQ(I2CM_RC_USB(word, request), -16);
  const std::string out = Stdout([] { EXPECT_EQ(RCI2CSetCommand(UPDC_DISABLE_RC, 0, 0, nullptr), -2); });
  EXPECT_EQ(out,
            "HID device handle not found!! You should call RCInit() and RCEnumAndOpenDevice()/RCOpenDevice() "
            "first.\r");
  EXPECT_EQ(I2CMRead(0, 4, word), 1);
  EXPECT_EQ(I2CMRead(0, 0, nullptr), 1);  // nothing to zero-fill
}

}  // namespace
}  // namespace ktq::testing

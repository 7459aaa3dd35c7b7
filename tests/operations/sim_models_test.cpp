// The virtual converter's flash and Tefra log refuse what a real chip
// refuses, so the operations' tests cannot pass on requests a device would
// reject.
#include <gtest/gtest.h>

#include "device/hid_session.h"
#include "device/rc_command.h"
#include "sim/flash_model.h"
#include "sim/i2c_master_model.h"
#include "tests/operations/ops_fixture.h"

namespace ktq::testing {
namespace {

using SimModelsTest = OpsFixture;

TEST_F(SimModelsTest, FlashProgramsOnlyErasedBytesInsideItself) {
  sim::VirtualConverter& c = Open(Scenario(5));
  const uint8_t chunk[32] = {1, 2, 3};
  const uint8_t erase[2] = {0xFF, 0xFF};
  const uint8_t badErase[2] = {0xFF, 0x00};

  EXPECT_EQ(RCSetCommand(UPDC_WRITE_FLASH, 32, 0, chunk), sim::kFlashStatusNotErased);  // old firmware there
  EXPECT_EQ(RCSetCommand(UPDC_ERASE_FLASH, 2, 0, badErase), sim::kStatusBadArgument);
  EXPECT_EQ(RCSetCommand(UPDC_ERASE_FLASH, 2, 0, erase), 0);
  EXPECT_EQ(RCSetCommand(UPDC_WRITE_FLASH, 32, 0x40, chunk), 0);
  EXPECT_EQ(RCSetCommand(UPDC_WRITE_FLASH, 32, 0x40, chunk), sim::kFlashStatusNotErased);
  EXPECT_EQ(RCSetCommand(UPDC_WRITE_FLASH, 16, 0x50000 - 16, chunk), 0);
  EXPECT_EQ(RCSetCommand(UPDC_WRITE_FLASH, 17, 0x50000 - 16, chunk), sim::kFlashStatusOutOfRange);
  EXPECT_EQ(sim::Flash(c).chunksWritten, 2u);
  EXPECT_EQ(sim::Flash(c).bytes[0x40], 1);
  EXPECT_EQ(sim::Flash(c).bytes[0x3F], 0xFF);

  // Update mode: flash commands need RC mode.
  EXPECT_EQ(RCSetCommand(UPDC_DISABLE_RC, 0, 0, nullptr), 0);
  sim::Flash(c).activations = 0;
  EXPECT_EQ(RCSetCommand(UPDC_ACTIVATE_FIRMWARE, 0, 0, nullptr), 0);  // repaired by a re-enable
  EXPECT_EQ(Commands(c).back(), UPDC_ACTIVATE_FIRMWARE);
  EXPECT_EQ(Commands(c)[Commands(c).size() - 2], UPDC_ENABLE_RC);
  EXPECT_EQ(sim::Flash(c).activations, 1u);
}

// Real time: the converter keeps the erase running for a second of wall
// clock. A host that does not wait for the erase reply must not get its
// chunks programmed.
TEST_F(SimModelsTest, FlashRefusesItsCommandsWhileAnEraseRuns) {
  sim::VirtualConverter& c = Open(Scenario(5, R"(, "flash": {"erase_time_ms": 1000})"));
  const sim::Report erase = MakeRequest(UPDC_ERASE_FLASH, 0, 2, {0xFF, 0xFF});
  ASSERT_GT(ktq::SendOutputReport(DeviceHandle(), erase.data()), 0);  // no wait for its reply

  const uint8_t chunk[32] = {1, 2, 3};
  EXPECT_EQ(RCSetCommand(UPDC_WRITE_FLASH, 32, 0, chunk), sim::kFlashStatusBusy);
  EXPECT_EQ(RCSetCommand(UPDC_ACTIVATE_FIRMWARE, 0, 0, nullptr), sim::kFlashStatusBusy);
  EXPECT_EQ(sim::Flash(c).chunksWritten, 0u);
  EXPECT_EQ(sim::Flash(c).activations, 0u);
  // Leaving update mode is no flash command: the chip takes it.
  EXPECT_EQ(RCSetCommand(UPDC_DISABLE_RC, 0, 0, nullptr), 0);
}

// The I2C master carries at most 16 data bytes per transaction; a longer
// write is refused, not passed on to the slave.
TEST_F(SimModelsTest, I2cMasterRefusesWritesOfMoreThan16DataBytes) {
  sim::VirtualConverter& c = Open(Scenario(5, R"(, "rdx4410": {})"));
  constexpr uint32_t kSpad4 = 0x20200290;
  for (const uint8_t n : {16, 17}) {
    sim::Report report{};
    const std::vector<uint8_t> head = {0x01, 0x10, static_cast<uint8_t>(5 + 4 + n), 0x00, 0x01,
                                       static_cast<uint8_t>(3 + 4 + n), 0x03, 0x72, 0x90, 0x02, 0x20, 0x20};
    std::copy(head.begin(), head.end(), report.begin());
    for (uint8_t i = 0; i < n; ++i) report[12 + i] = static_cast<uint8_t>(0xC0 + i);
    ASSERT_GT(ktq::SendOutputReport(DeviceHandle(), report.data()), 0);
    sim::Report reply{};
    reply[0] = 0x01;
    ASSERT_GT(ktq::FetchInputReport(DeviceHandle(), reply.data()), 0);
    EXPECT_EQ(reply[3], 2) << int(n);
    EXPECT_EQ(reply[4], n == 16 ? 0 : sim::kI2CResultBadRequest) << int(n);
  }
  // The refused write left the scratch pads as the accepted one wrote them.
  uint8_t pads[20] = {};
  for (uint32_t i = 0; i < sizeof pads; ++i) {
    uint8_t word[4] = {};
    const uint8_t address[4] = {static_cast<uint8_t>((kSpad4 + i) & 0xFF), 0x02, 0x20, 0x20};
    ASSERT_EQ(sim::CompanionChip(c)->Read(address, 4, word, 1), 0);
    pads[i] = word[0];
  }
  EXPECT_EQ(pads[0], 0xC0);
  EXPECT_EQ(pads[15], 0xCF);
  EXPECT_EQ(pads[16], 0x00);
  EXPECT_EQ(c.ProtocolErrors().size(), 1u);
}

TEST_F(SimModelsTest, TefraLogIsReadInWholeRecordsFromAddressZero) {
  Open(Scenario(5, R"(, "tefra": {"records": [")" +
                       std::string("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F") +
                       R"("], "final_status": 9})"));
  uint8_t record[32] = {};
  EXPECT_EQ(RCGetCommand(UPDC_READ_TEFRA_LOG, 16, 0, record), sim::kStatusBadArgument);
  EXPECT_EQ(RCGetCommand(UPDC_READ_TEFRA_LOG, 32, 4, record), sim::kStatusBadArgument);
  EXPECT_EQ(RCGetCommand(UPDC_READ_TEFRA_LOG, 32, 0, record), 0);
  EXPECT_EQ(record[31], 0x1F);
  EXPECT_EQ(RCGetCommand(UPDC_READ_TEFRA_LOG, 32, 0, record), 9);
}

TEST_F(SimModelsTest, BadSectionsAreRefusedWithTheirPlace) {
  const struct {
    const char* extra;
    const char* error;
  } cases[] = {
      {R"(, "flash": {"size": 100})", "devices[0]: flash: size must be a non-zero multiple of 32"},
      {R"(, "flash": {"erase_ms": 1})", "devices[0]: flash: unknown key \"erase_ms\""},
      {R"(, "tefra": {"records": ["00 01"]})", "devices[0]: tefra: records[0]: a record is 32 bytes"},
      {R"(, "tefra": {"final_status": 0})", "devices[0]: tefra: final_status: 0 would never end the log"},
      {R"(, "rdx4410": {"variant": "5"})", "devices[0]: rdx4410: variant: \"4a\" or \"4b\""},
      {R"(, "rdx4410": {"bus": 3})", "devices[0]: rdx4410: bus: 0, 1 or 2"},
  };
  for (const auto& tc : cases) {
    sim::VirtualHost local;
    std::string error;
    EXPECT_FALSE(sim::LoadScenarioText(Scenario(5, tc.extra), local, error)) << tc.extra;
    EXPECT_EQ(error, tc.error);
  }
}

}  // namespace
}  // namespace ktq::testing

// Cascade update over the virtual converter with an RDX4410 behind it: the
// write through the main chip, the restore, the activation through the
// mailbox, and the failure rows.
#include <gtest/gtest.h>

#include <algorithm>

#include "chipdb/register_db.h"
#include "i2c/i2c_master.h"
#include "device/rc_command.h"
#include "operations/cascade_update.h"
#include "operations/firmware_update.h"
#include "sim/flash_model.h"
#include "sim/i2c_master_model.h"
#include "tests/operations/ops_fixture.h"

namespace ktq::testing {
namespace {

constexpr uint32_t kImageSize = 0x50000;
constexpr uint32_t kOwnerWord = 0x900024DC;

const std::string kWriteLines = "Initializing...OK!\nErasing flash...OK!\nUpdating firmware...\n\t...OK!\n";

class CascadeUpdateTest : public OpsFixture {
 protected:
  // A type-5 converter with an RDX4410 and a known word at 0x900024DC.
  sim::VirtualConverter& OpenCascade(const std::string& rdx = "", const std::string& extra = "") {
    return Open(Scenario(5, R"(, "rdx4410": {)" + rdx + R"(}, "memory": {"0x900024DC": "78 56 34 12"})" + extra));
  }

  int32_t Run(const std::vector<uint8_t>& image) {
    const std::string path = WriteFile("rdx.fullrom", image);
    ::testing::internal::CaptureStdout();
    const int32_t result = RCCascadeUpdate(path.c_str());
    std::fflush(stdout);
    stdoutText = ::testing::internal::GetCapturedStdout();
    return result;
  }

  static uint32_t MainWord(sim::VirtualConverter& c, uint32_t address) {
    uint8_t b[4] = {};
    c.Memory().Read(address, b, 4);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
  }

  std::string stdoutText;
};

TEST_F(CascadeUpdateTest, ImageGoesThroughTheMainChipAndTheRdx4410ActivatesIt) {
  sim::VirtualConverter& c = OpenCascade();
  const std::vector<uint8_t> image = Image(kImageSize);

  EXPECT_EQ(Run(image), 0);

  EXPECT_EQ(Reports::Messages(),
            "Start updating RDX4410...\n" + kWriteLines + "Activating firmware...OK!\nUpdate complete!\n");
  EXPECT_EQ(stdoutText, "I2CM speed settled at 400Khz\n");
  // The image went to the flash the RDX4410 boots from; the main chip's own
  // firmware is untouched.
  EXPECT_EQ(sim::Flash(c).sharedBytes, image);
  EXPECT_EQ(sim::Flash(c).bytes, std::vector<uint8_t>(kImageSize, 0x5A));
  // Main chip put back as it was: word restored, bus released.
  EXPECT_EQ(MainWord(c, kOwnerWord), 0x12345678u);
  EXPECT_FALSE(sim::Flash(c).mainHoldsSpiBus);
  const sim::Rdx4410Model* rdx = sim::CompanionChip(c);
  EXPECT_TRUE(rdx->activated());
  EXPECT_FALSE(rdx->holdsSpiBus());
  EXPECT_FALSE(rdx->rcMode());
  EXPECT_EQ(rdx->commandsRun(), (std::vector<uint8_t>{UPDC_ENABLE_RC, UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING,
                                                      UPDC_ACTIVATE_FIRMWARE, UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING,
                                                      UPDC_DISABLE_RC}));
  EXPECT_EQ(chipdb::LoadedVariant(), "5");
  EXPECT_TRUE(c.ProtocolErrors().empty());

  // The main chip's part, packet by packet: enable, take the bus, save the
  // word, hold 00 00 10 00 there; after the image: enable, restore, release,
  // disable.
  const auto requests = Requests(c);
  ASSERT_GT(requests.size(), 4u);
  EXPECT_EQ(requests[0], MakeRequest(UPDC_ENABLE_RC, 0, 5, CodeWord()));
  EXPECT_EQ(requests[1], MakeRequest(UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING, 0, 1, {1}));
  EXPECT_EQ(requests[2], MakeRequest(UPDC_READ_FROM_MEMORY, kOwnerWord, 4, {}));
  EXPECT_EQ(requests[3], MakeRequest(UPDC_WRITE_TO_MEMORY, kOwnerWord, 4, {0x00, 0x00, 0x10, 0x00}));
  const std::vector<RcCall> calls = RcCalls(c);
  const auto lastChunk = std::find(calls.rbegin(), calls.rend(), RcCall{UPDC_WRITE_FLASH, kImageSize - 32});
  ASSERT_NE(lastChunk, calls.rend());
  const auto afterWrite = lastChunk.base();
  ASSERT_GE(calls.end() - afterWrite, 5);
  const std::vector<RcCall> restore(afterWrite, afterWrite + 5);
  EXPECT_EQ(restore, (std::vector<RcCall>{{UPDC_DISABLE_RC, 0},
                                          {UPDC_ENABLE_RC, 0},
                                          {UPDC_WRITE_TO_MEMORY, kOwnerWord},
                                          {UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING, 0},
                                          {UPDC_DISABLE_RC, 0}}));
}

TEST_F(CascadeUpdateTest, Type6ChipIsRefusedBeforeAnythingIsSent) {
  sim::VirtualConverter& c = Open(Scenario(6));
  EXPECT_EQ(Run(Image(kImageSize)), 242);
  EXPECT_EQ(Reports::Messages(), "This device doesn't support cascade update!!\n");
  EXPECT_TRUE(Requests(c).empty());
}

struct CascadeCase {
  const char* name;
  const char* rdx;
  const char* extra;
  int32_t result;
  std::string messages;
  std::string stdoutText;
};

class CascadeAnswerTest : public CascadeUpdateTest, public ::testing::WithParamInterface<CascadeCase> {};

TEST_P(CascadeAnswerTest, AnswersOfBothChipsDecideResultAndMessages) {
  const CascadeCase& cc = GetParam();
  OpenCascade(cc.rdx, cc.extra);
  EXPECT_EQ(Run(Image(kImageSize)), cc.result);
  EXPECT_EQ(Reports::Messages(), cc.messages);
  EXPECT_EQ(stdoutText, cc.stdoutText);
  EXPECT_EQ(chipdb::LoadedVariant(), "5");
}

const std::string kStart = "Start updating RDX4410...\n";

INSTANTIATE_TEST_SUITE_P(
    Answers, CascadeAnswerTest,
    ::testing::Values(
        // Main chip's enable answered 1 at the start and in the restore: fine.
        CascadeCase{"MainEnableAnswersOne", "",
                    R"(, "faults": [{"kind": "status", "command": 1, "status": 1},
                                   {"kind": "status", "command": 1, "status": 1, "skip": 2}])",
                    0, kStart + kWriteLines + "Activating firmware...OK!\nUpdate complete!\n",
                    "I2CM speed settled at 400Khz\n"},
        // The RDX4410's 1 is a failure, but only a logged one.
        CascadeCase{"RdxEnableAnswersOne", R"("enable_status": 1)", "", 0,
                    kStart + kWriteLines + "Activating firmware...OK!\nUpdate complete!\n",
                    "I2CM speed settled at 400Khz\nRCI2CSetCommand : UPDC_ENABLE_RC FAILED:1\r\n"},
        CascadeCase{"MainRefusesRcMode", "", R"(, "faults": [{"kind": "status", "command": 1, "status": 2}])", 2,
                    kStart + "Failed to enable RC command!!\nUpdate FAILED!!\n", ""},
        CascadeCase{"MainRefusesTheBus", "", R"(, "faults": [{"kind": "status", "command": 26, "status": 9}])", 9,
                    kStart + "Failed to request 5150 SPI!!\nUpdate FAILED!!\n", ""},
        // Three refused activations leave the new firmware unused: a failure,
        // reported after the restore steps with the last refusal's status.
        CascadeCase{"ActivationFailsThreeTimes", R"("fail_activations": 3)", "", 3,
                    kStart + kWriteLines + "Activating firmware...FAILED!!\nUpdate FAILED!!\n",
                    "I2CM speed settled at 400Khz\n"},
        CascadeCase{"Rdx4410Silent", R"("silent": true)", "", 2,
                    kStart + kWriteLines + "Activating firmware...FAILED!!\nUpdate FAILED!!\n",
                    "Can't find proper I2C speed"
                    "Write data register failed: 2\r\nRCI2CSetCommand : UPDC_ENABLE_RC FAILED:2\r\n"
                    "Write data register failed: 2\r\n"
                    "RCI2CSetCommand : UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING FAILED:2\r\n"
                    "Write offset and length register failed: 2\r\n"
                    "Write offset and length register failed: 2\r\n"
                    "Write offset and length register failed: 2\r\n"
                    "Write data register failed: 2\r\n"
                    "RCI2CSetCommand : UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING FAILED:2\r\n"
                    "Write offset and length register failed: 2\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CascadeUpdateTest, FailedChunkEndsTheRunWithoutRestoringTheMainChip) {
  sim::VirtualConverter& c =
      OpenCascade("", R"(, "faults": [{"kind": "status", "command": 32, "address": "0x1A20", "status": 5}])");
  EXPECT_EQ(Run(Image(kImageSize)), 226);
  EXPECT_EQ(Reports::Messages(), kStart +
                                     "Initializing...OK!\nErasing flash...OK!\nUpdating firmware...\n"
                                     "Write flash FAILED at index: 1a20\n\t...FAILED!!\nUpdate FAILED!!\n");
  EXPECT_EQ(RcCalls(c).back(), (RcCall{UPDC_DISABLE_RC, 0}));
  EXPECT_EQ(MainWord(c, kOwnerWord), 0x00100000u);
  EXPECT_TRUE(sim::Flash(c).mainHoldsSpiBus);
  EXPECT_TRUE(sim::CompanionChip(c)->commandsRun().empty());
  EXPECT_EQ(stdoutText, "");
}

// The shared flash is reached only while the main chip holds the shared bus:
// a host that writes the companion image without taking it overwrites the
// main chip's own firmware and leaves the RDX4410's as it was.
TEST_F(CascadeUpdateTest, FlashWritesReachTheSharedFlashOnlyWhileTheMainChipHoldsTheBus) {
  sim::VirtualConverter& c = OpenCascade();
  const std::vector<uint8_t> image = Image(kImageSize);
  const std::string path = WriteFile("rdx.fullrom", image);

  EXPECT_EQ(RCWriteFirmwareFile(path.c_str()), 0);
  EXPECT_EQ(sim::Flash(c).bytes, image);
  EXPECT_EQ(sim::Flash(c).sharedBytes, std::vector<uint8_t>(kImageSize, 0xA5));

  const uint8_t take = 1;
  ASSERT_EQ(RCSetCommand(UPDC_ENABLE_RC, 5, 0, reinterpret_cast<const uint8_t*>("TAMBO")), 0);
  ASSERT_EQ(RCSetCommand(UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING, 1, 0, &take), 0);
  std::vector<uint8_t> second = image;
  std::reverse(second.begin(), second.end());
  const std::string secondPath = WriteFile("rdx2.fullrom", second);
  EXPECT_EQ(RCWriteFirmwareFile(secondPath.c_str()), 0);
  EXPECT_EQ(sim::Flash(c).sharedBytes, second);
  EXPECT_EQ(sim::Flash(c).bytes, image);
  EXPECT_TRUE(c.ProtocolErrors().empty());
}

}  // namespace
}  // namespace ktq::testing

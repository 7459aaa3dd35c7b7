// Chip identification over the virtual converter: chip type, texts, identity
// reads and the state it leaves behind.
#include "chipdb/chip_id.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "chipdb/register_db.h"
#include "device/rc_command.h"
#include "tests/support/sim_fixture.h"

namespace ktq::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct InfoCalls {
  static inline std::vector<std::string> calls;
  static void OnInfo(const char* text) { calls.emplace_back(text); }
};

struct Identity {
  uint32_t versionAddress;
  uint32_t nameAddress;
};
constexpr Identity kType5{0x20200230, 0x90000200 + 0xF0};
constexpr Identity kType6{0x2020A038, 0x90000140 + 0xF0};
constexpr uint32_t kChipInfo = 0x90000020;

class ChipIdTest : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    InfoCalls::calls.clear();
    RCSetCallbacks(Reports::OnRemoved, InfoCalls::OnInfo, Reports::OnMessage, nullptr, nullptr);
  }

  // A converter whose chip reports `dateCode`, version 1.05.050 and the name
  // "KTQ-FW-TEST" at the places of its chip type.
  sim::VirtualConverter& Chip(uint32_t dateCode, const Identity& id, const std::string& name = "KTQ-FW-TEST") {
    sim::VirtualConverter& c = OpenConverter();
    c.Memory().WriteU32(chipdb::kChipDateCodeAddress, dateCode);
    c.Memory().WriteU32(id.versionAddress, 0x00320105);
    c.Memory().Write(id.nameAddress, reinterpret_cast<const uint8_t*>(name.data()), name.size());
    const uint8_t info[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    c.Memory().Write(kChipInfo, info, sizeof info);
    return c;
  }
};

TEST_F(ChipIdTest, BeforeIdentificationTheTypeIsFive) {
  EXPECT_EQ(CurrentChipType(), 5u);
  EXPECT_EQ(ChipRevision(), 0u);
}

TEST_F(ChipIdTest, ChipTypesAndTheirTexts) {
  struct Case {
    uint32_t dateCode;
    int32_t result;
    uint32_t type;
    std::vector<std::string> info;
    std::string messages;
  };
  const std::vector<std::string> tarvik = {"Chip type: ", "Tarvik", "\r\n", "Current FW version = 1.05.050\n",
                                           "Current FW name = KTQ-FW-TEST\n"};
  const std::vector<std::string> mondelo = {"Chip type: ", "Mondelo", "\r\n", "Current FW version = 1.05.050\n",
                                            "Current FW name = KTQ-FW-TEST\n"};
  const Case cases[] = {
      {0x20201105, 0, 5, tarvik, ""},
      {0x20201100, 0, 5, tarvik, ""},
      {0x20220300, 0, 6, mondelo, ""},
      {0x20230101, 0, 6, mondelo, ""},
      {0xFEEDB001, 0, 6, mondelo, ""},
      {0x20220299, 242, 4, {}, "Device not supported!\r\n"},
      {0x20190608, 242, 4, {}, "Device not supported!\r\n"},
      {0x20201200, 242, 4, {}, "Device not supported!\r\n"},
      {0x00000000, 242, 4, {}, "Device not supported!\r\n"},
  };
  sim::VirtualConverter& c = OpenConverter();
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << "date code " << std::hex << k.dateCode);
    const Identity& id = k.type == 6 ? kType6 : kType5;
    c.Memory().WriteU32(chipdb::kChipDateCodeAddress, k.dateCode);
    c.Memory().WriteU32(id.versionAddress, 0x00320105);
    c.Memory().Write(id.nameAddress, reinterpret_cast<const uint8_t*>("KTQ-FW-TEST"), 12);
    InfoCalls::calls.clear();
    Reports::Reset();
    EXPECT_EQ(RCIdentifyChip(), k.result);
    EXPECT_EQ(CurrentChipType(), k.type);
    EXPECT_EQ(InfoCalls::calls, k.info);
    EXPECT_EQ(Reports::Messages(), k.messages);
  }
  EXPECT_THAT(c.ProtocolErrors(), IsEmpty());
}

TEST_F(ChipIdTest, IdentificationReadsDateVersionNameAndChipInfo) {
  auto& c = Chip(0x20220400, kType6);
  ASSERT_EQ(RCIdentifyChip(), 0);
  EXPECT_THAT(Requests(c), ElementsAre(MakeRequest(UPDC_READ_FROM_MEMORY, 0x20200D30, 4, {}),  // date code
                                       MakeRequest(UPDC_READ_FROM_MEMORY, 0x20200D30, 4, {}),  // variant choice
                                       MakeRequest(UPDC_READ_FROM_MEMORY, 0x2020A038, 4, {}),
                                       MakeRequest(UPDC_READ_FROM_MEMORY, 0x90000230, 15, {}),
                                       MakeRequest(UPDC_READ_FROM_MEMORY, kChipInfo, 8, {})));
  EXPECT_EQ(chipdb::LoadedVariant(), "6b");
  EXPECT_EQ(ChipRevision(), 0x44u);
  EXPECT_EQ(RxPortStride(), 0x400u);
  EXPECT_EQ(TxPortStride(), 0x40000u);
  EXPECT_THAT(c.ProtocolErrors(), IsEmpty());
}

TEST_F(ChipIdTest, TypeFiveHasOneTransmitPort) {
  Chip(0x20201105, kType5);
  ASSERT_EQ(RCIdentifyChip(), 0);
  EXPECT_EQ(chipdb::LoadedVariant(), "5");
  EXPECT_EQ(TxPortStride(), 0u);
  EXPECT_EQ(ChipRevision(), 0x44u);
}

TEST_F(ChipIdTest, VersionWordLayout) {
  struct Case {
    uint32_t word;
    const char* text;
  };
  const Case cases[] = {
      {0x00320105, "Current FW version = 1.05.050\n"},
      {0x00000000, "Current FW version = 0.00.000\n"},
      {0x00FFFFFF, "Current FW version = 255.255.255\n"},
      {0xAB000A07, "Current FW version = 10.07.000\n"},  // bits 24-31 are not shown
      {0x00070063, "Current FW version = 0.99.007\n"},
  };
  auto& c = Chip(0x20201105, kType5);
  for (const Case& k : cases) {
    c.Memory().WriteU32(kType5.versionAddress, k.word);
    InfoCalls::calls.clear();
    ASSERT_EQ(RCIdentifyChip(), 0);
    ASSERT_EQ(InfoCalls::calls.size(), 5u);
    EXPECT_EQ(InfoCalls::calls[3], k.text);
  }
}

TEST_F(ChipIdTest, FirmwareNameIsAtMostFifteenCharacters) {
  struct Case {
    std::string stored;
    const char* text;
  };
  const Case cases[] = {
      {"ABCDEFGHIJKLMNO", "Current FW name = ABCDEFGHIJKLMNO\n"},
      {"ABCDEFGHIJKLMNOPQRST", "Current FW name = ABCDEFGHIJKLMNO\n"},
      {"X", "Current FW name = X\n"},
      {std::string("\0BCDEF", 6), "Get FW name FAILED!!\n"},
  };
  auto& c = Chip(0x20220300, kType6);
  for (const Case& k : cases) {
    uint8_t cleared[32] = {};
    c.Memory().Write(kType6.nameAddress, cleared, sizeof cleared);
    c.Memory().Write(kType6.nameAddress, reinterpret_cast<const uint8_t*>(k.stored.data()), k.stored.size());
    InfoCalls::calls.clear();
    ASSERT_EQ(RCIdentifyChip(), 0);
    ASSERT_EQ(InfoCalls::calls.size(), 5u);
    EXPECT_EQ(InfoCalls::calls[4], k.text);
  }
}

TEST_F(ChipIdTest, FailedVersionOrNameReadsStillIdentify) {
  auto& c = Chip(0x20201105, kType5);
  c.AddFault(sim::Fault::Status(0x21).AtAddress(kType5.versionAddress));
  c.AddFault(sim::Fault::Status(0x22).AtAddress(kType5.nameAddress));
  EXPECT_EQ(RCIdentifyChip(), 0);
  EXPECT_EQ(InfoCalls::calls, (std::vector<std::string>{"Chip type: ", "Tarvik", "\r\n", "Get FW version FAILED!!\n",
                                                        "Get FW name FAILED!!\n"}));
  EXPECT_EQ(Reports::Messages(), "");
  EXPECT_EQ(GetRegisterAddress("CORE_MCU_SPAD0"), 0x20200280u);
}

TEST_F(ChipIdTest, FailedDateCodeReadMeansNotSupported) {
  auto& c = Chip(0x20201105, kType5);
  c.AddFault(sim::Fault::Status(0x30).AtAddress(chipdb::kChipDateCodeAddress));
  EXPECT_EQ(RCIdentifyChip(), 242);
  EXPECT_EQ(CurrentChipType(), 4u);
  EXPECT_EQ(Reports::Messages(), "Device not supported!\r\n");
  EXPECT_THAT(InfoCalls::calls, IsEmpty());
}

TEST_F(ChipIdTest, NoDeviceMeansNotSupported) {
  EXPECT_EQ(RCIdentifyChip(), 242);
  EXPECT_EQ(CurrentChipType(), 4u);
  EXPECT_EQ(Reports::Messages(), "Device not supported!\r\n");
}

TEST_F(ChipIdTest, EmptyInformationSlotStillLoads) {
  RCSetCallbacks(nullptr, nullptr, Reports::OnMessage, nullptr, nullptr);
  Chip(0x20220300, kType6);
  EXPECT_EQ(RCIdentifyChip(), 0);
  EXPECT_EQ(chipdb::LoadedVariant(), "6a");
  EXPECT_EQ(GetRegisterAddress("CORE_MCU_SPAD0"), 0x2020B000u);
  EXPECT_EQ(Reports::Messages(), "");
}

}  // namespace
}  // namespace ktq::testing

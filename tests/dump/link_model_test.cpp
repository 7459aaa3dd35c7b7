// The virtual converter's link model as a host sees it on the wire: DPCD
// per sink with moving lane counters, the 36-byte port records, interrupt
// status that clears on 1s and comes back, counters that count on, and
// what it refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/rc_command.h"
#include "sim/register_map_model.h"
#include "tests/dump/dump_fixture.h"

namespace ktq::testing {
namespace {

class LinkModel : public DumpFixture {
 protected:
  sim::VirtualConverter& Load() {
    return LoadText(R"({"devices": [{"chip": {"type": 6}, "link": {
        "dpcd": [{"port": 1, "bytes": {"0x0210": "01 00 02 00 03 00 04 00", "0xFFFFE": "AA BB"},
                  "symbol_error_step": [1, 0, 0, "0x100"]}],
        "port_records": [{"port": 3, "tx": {"flags": "0x1234", "va": 1080, "pixel_clock_khz": "0x01020304"}}],
        "write_one_to_clear": {"RX_INTR_HPD_INT_STATUS": "0x4"},
        "counters": {"RX_ML_PHY_ERR_COUNTERS_0": 5}},
      "registers": {"variant": "6b", "overrides": {"RX_INTR_HPD_INT_STATUS": "0x7"}}}]})");
  }
  static std::vector<uint8_t> Read(uint8_t command, uint32_t address, uint32_t length, int32_t& result) {
    std::vector<uint8_t> bytes(length, 0xEE);
    result = RCGetCommand(command, length, address, bytes.data());
    return bytes;
  }
};

TEST_F(LinkModel, DpcdOfASinkAndItsLaneCounters) {
  Load();
  int32_t result = 0;
  EXPECT_EQ(Read(UPDC_READ_DPCD + 1, 0x210, 8, result), (std::vector<uint8_t>{1, 0, 2, 0, 3, 0, 4, 0}));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(Read(UPDC_READ_DPCD + 1, 0x210, 8, result), (std::vector<uint8_t>{2, 0, 2, 0, 3, 0, 4, 1}));
  EXPECT_EQ(Read(UPDC_READ_DPCD + 1, 0xFFFFE, 2, result), (std::vector<uint8_t>{0xAA, 0xBB}));
  Read(UPDC_READ_DPCD + 1, 0xFFFFF, 2, result);
  EXPECT_EQ(result, 0x82);  // past the 20-bit DPCD space
  Read(UPDC_READ_DPCD + 0, 0x0, 4, result);
  EXPECT_EQ(result, 0x84);  // no sink on port 0
}

TEST_F(LinkModel, PortRecordsAreReadAsThirtyTwoBytesAndTheClockWord) {
  Load();
  int32_t result = 0;
  std::vector<uint8_t> head = Read(UPDC_READ_TIMING, 0x0301, 32, result);
  EXPECT_EQ(result, 0);
  std::vector<uint8_t> expected(32, 0);
  expected[0] = 0x34, expected[1] = 0x12, expected[18] = 0x38, expected[19] = 0x04;
  EXPECT_EQ(head, expected);
  EXPECT_EQ(Read(UPDC_READ_TIMING, 0x0301 + 32, 4, result), (std::vector<uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(Read(UPDC_READ_TIMING, 0x0300, 4, result), (std::vector<uint8_t>{0, 0, 0, 0}));  // receive side: zero
  Read(UPDC_READ_TIMING, 0x0301 + 34, 4, result);
  EXPECT_EQ(result, 0x82);  // past the record's end
  Read(UPDC_READ_TIMING, 0x0401, 4, result);
  EXPECT_EQ(result, 0x82);  // no port 4
}

TEST_F(LinkModel, InterruptStatusClearsOnOnesAndCountersCountOn) {
  sim::VirtualConverter& c = Load();
  const uint32_t status = sim::PlacedRegisterAddress(c, "RX_INTR_HPD_INT_STATUS").value_or(0);
  const uint32_t counter = sim::PlacedRegisterAddress(c, "RX_ML_PHY_ERR_COUNTERS_0").value_or(0);
  int32_t result = 0;
  EXPECT_EQ(Read(UPDC_READ_FROM_MEMORY, status, 4, result), (std::vector<uint8_t>{7, 0, 0, 0}));
  const uint8_t clearTwo[4] = {2, 0, 0, 0};
  ASSERT_EQ(RCSetCommand(UPDC_WRITE_TO_MEMORY, 4, status, clearTwo), 0);
  EXPECT_EQ(Read(UPDC_READ_FROM_MEMORY, status, 4, result), (std::vector<uint8_t>{5, 0, 0, 0}));
  const uint8_t clearAll[4] = {7, 0, 0, 0};
  ASSERT_EQ(RCSetCommand(UPDC_WRITE_TO_MEMORY, 4, status, clearAll), 0);
  EXPECT_EQ(Read(UPDC_READ_FROM_MEMORY, status, 4, result), (std::vector<uint8_t>{4, 0, 0, 0}));  // raised again

  EXPECT_EQ(Read(UPDC_READ_FROM_MEMORY, counter, 4, result), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(Read(UPDC_READ_FROM_MEMORY, counter - 4, 8, result), (std::vector<uint8_t>{0, 0, 0, 0, 5, 0, 0, 0}));
  EXPECT_EQ(Read(UPDC_READ_FROM_MEMORY, counter, 4, result), (std::vector<uint8_t>{10, 0, 0, 0}));
  EXPECT_TRUE(c.ProtocolErrors().empty());
}

TEST(LinkModelScenario, MistakesAreReportedWithTheirPlace) {
  struct Case {
    std::string link, error;
  };
  const Case cases[] = {
      {R"({"counters": {"NO_SUCH_REGISTER": 1}})", "link: counters: no register NO_SUCH_REGISTER in the chip's map"},
      {R"({"dpcd": [{"port": 4}]})", "link: dpcd[0]: port: 0 to 3"},
      {R"({"port_records": [{"port": 0, "rx": {"lanes": 4}}]})",
       "link: port_records[0]: rx: record: unknown key \"lanes\""},
      {R"({"dpcd": [{"port": 0, "symbol_error_step": [1, 2]}]})",
       "link: dpcd[0]: symbol_error_step: expected four lane steps"},
  };
  for (const Case& c : cases) {
    sim::VirtualHost host;
    std::string error;
    EXPECT_FALSE(sim::LoadScenarioText(
        R"({"devices": [{"chip": {"type": 5}, "registers": {"variant": "5"}, "link": )" + c.link + "}]}", host,
        error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace ktq::testing

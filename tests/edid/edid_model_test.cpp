// The virtual converter's EDID model: what it serves, what it refuses, and
// the scenario sections it accepts.
#include "sim/edid_model.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "device/rc_command.h"
#include "sim/register_map_model.h"
#include "sim/scenario.h"
#include "tests/edid/crafted_edid.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

const std::string kEdid = "monitor-dp";  // two blocks

class EdidModelTest : public SimFixture {
 protected:
  bool Load(const std::string& device, std::string& error) {
    return sim::LoadScenarioText("{\"devices\": [{" + device + "}]}", host, error);
  }
};

TEST_F(EdidModelTest, ServesBlocksAndRefusesReadsOutsideThem) {
  std::string error;
  ASSERT_TRUE(Load("\"edid\": {\"input\": \"" + test::CraftedEdidFile(kEdid) + "\"}", error)) << error;
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  const std::vector<uint8_t> file = test::CraftedEdid(kEdid);
  ASSERT_EQ(file.size(), 256u);

  std::vector<uint8_t> block(128);
  ASSERT_EQ(RCGetCommand(UPDC_READ_EDID, 128, 128, block.data()), 0);
  EXPECT_EQ(block, std::vector<uint8_t>(file.begin() + 128, file.end()));
  uint8_t chunk[32];
  EXPECT_EQ(RCGetCommand(UPDC_READ_EDID, 32, 112, chunk), sim::kStatusBadArgument);  // straddles two blocks
  EXPECT_EQ(RCGetCommand(UPDC_READ_EDID, 32, 256, chunk), sim::kStatusNoEdid);       // past the last block
  EXPECT_EQ(RCGetCommand(UPDC_READ_EDID + 1, 32, 0, chunk), sim::kStatusNoEdid);     // no output named
}

TEST_F(EdidModelTest, HotPlugLinesLandInCoreGpioRx) {
  std::string error;
  ASSERT_TRUE(Load("\"chip\": {\"type\": 6}, \"registers\": {\"variant\": \"6a\", \"overrides\": "
                   "{\"CORE_GPIO_RX\": \"0xF0F0F0F0\"}}, \"edid\": {\"outputs\": [{\"file\": \"" +
                       test::CraftedEdidFile(kEdid) + "\"}, {}, {\"hot_plug\": true}]}",
                   error))
      << error;
  sim::VirtualConverter& c = host.Converter(0);
  const auto address = sim::PlacedRegisterAddress(c, "CORE_GPIO_RX");
  ASSERT_TRUE(address.has_value());
  // Bits 24 to 27 are the four lines; the other bits keep their value.
  EXPECT_EQ(c.Memory().ReadU32(*address), 0xF5F0F0F0u);
}

TEST_F(EdidModelTest, BadSectionsAreRefusedWithTheirPlace) {
  const std::string dir = ::ktq::testing::TestDir().string() + "/";
  std::ofstream(dir + "edid-200.bin", std::ios::binary) << std::string(200, '\0');
  const struct {
    std::string device;
    std::string error;
  } cases[] = {
      {"\"edid\": {\"inputs\": 1}", "devices[0]: edid: unknown key \"inputs\""},
      {"\"edid\": {\"input\": 5}", "devices[0]: edid: input: expected the path of an EDID file"},
      {"\"edid\": {\"input\": \"" + dir + "edid-200.bin\"}",
       "devices[0]: edid: input: " + dir + "edid-200.bin: not 1 to 256 whole 128-byte EDID blocks"},
      {"\"edid\": {\"input\": \"no/such.bin\"}",
       "devices[0]: edid: input: " KTQ_SOURCE_DIR "/no/such.bin: No such file or directory"},
      {"\"edid\": {\"outputs\": [{}, {}, {}, {}, {}]}",
       "devices[0]: edid: outputs: expected an array of at most 4 outputs"},
      {"\"edid\": {\"outputs\": [3]}", "devices[0]: edid: outputs[0]: output: expected an object"},
      {"\"edid\": {\"outputs\": [{\"hot_plug\": 1}]}", "devices[0]: edid: outputs[0]: hot_plug: expected true or false"},
      {"\"edid\": {\"outputs\": [{}]}",
       "devices[0]: edid: outputs need a chip with its registers (their hot-plug lines are read there)"},
      {"\"chip\": {\"type\": 5}, \"edid\": {\"outputs\": [{}, {}, {}, {}]}",
       "devices[0]: edid: a type-5 chip has 3 outputs"},
  };
  for (const auto& c : cases) {
    sim::VirtualHost fresh;
    std::string error;
    EXPECT_FALSE(sim::LoadScenarioText("{\"devices\": [{" + c.device + "}]}", fresh, error)) << c.device;
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
}  // namespace ktq::testing

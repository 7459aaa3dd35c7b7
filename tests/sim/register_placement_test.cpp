// Registers and chip identity of the virtual converter, read back through the
// device layer exactly as the host tools read them.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "sim/scenario.h"
#include "tests/support/sim_fixture.h"
#include "tools/regmap/regmap.h"

namespace ktq::testing {
namespace {

const std::string kSource = KTQ_SOURCE_DIR;

class RegisterPlacementTest : public SimFixture {
 protected:
  // Loads a scenario into the fixture's host and opens its first converter.
  sim::VirtualConverter& Open(const std::string& scenario) {
    std::string error;
    EXPECT_TRUE(sim::LoadScenarioText(scenario, host, error)) << error;
    EXPECT_EQ(RCEnumAndOpenDevice(), 0);
    return host.Converter(0);
  }

  static uint32_t ReadWord(uint32_t address) {
    uint8_t b[4] = {};
    EXPECT_EQ(RCReadRegister(address, 4, b), 0) << std::hex << address;
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
  }

  static std::vector<uint8_t> ReadBytes(uint32_t address, uint32_t length) {
    std::vector<uint8_t> out(length);
    EXPECT_EQ(RCReadRegister(address, length, out.data()), 0);
    return out;
  }

  static regmap::Map Parse(const std::string& variant) {
    regmap::Map map;
    std::string error;
    EXPECT_TRUE(regmap::ParseMapFile(kSource + "/chipdb/maps/variant-" + variant + ".map", map, error)) << error;
    return map;
  }

  // Every register reads its reset value, except those named in `changed`.
  static void ExpectResetValues(const regmap::Map& map, const std::map<uint32_t, uint32_t>& changed) {
    int mismatches = 0;
    for (const regmap::Register& r : map.registers) {
      auto it = changed.find(r.address);
      const uint32_t expected = it == changed.end() ? r.reset : it->second;
      const uint32_t value = ReadWord(r.address);
      if (value != expected && ++mismatches <= 5) ADD_FAILURE() << r.name << " reads " << std::hex << value;
    }
    EXPECT_EQ(mismatches, 0);
  }
};

TEST_F(RegisterPlacementTest, ChipSectionAloneGivesTheDefaultType5Chip) {
  sim::VirtualConverter& c = Open(R"({"devices": [{"chip": {"type": 5}}]})");
  ExpectResetValues(Parse("5"), {{0x20200D30, 0x20201105}, {0x20200230, 0x01220203}});
  EXPECT_EQ(ReadWord(0x20200000), 0x0DF24B18u);  // the first record's reset value
  const std::vector<uint8_t> name = ReadBytes(0x900002F0, 16);
  EXPECT_EQ(std::string(name.begin(), name.end()), std::string("TARVIK_FW\0\0\0\0\0\0\0", 16));
  EXPECT_EQ(ReadBytes(0x90000020, 8), (std::vector<uint8_t>{0x00, 0x51, 0x50, 0x11, 21, 14, 0x00, 0x00}));
  EXPECT_TRUE(c.ProtocolErrors().empty());
}

TEST_F(RegisterPlacementTest, Type6IdentityAndTheVariantItsDateCodeSelects) {
  Open(R"({"devices": [{"chip": {"type": 6, "date_code": "0x20220400", "fw_version": "0x00320105",
          "fw_name": "ABCDEFGHIJKLMNOP", "chip_info": {"id": "0x1234", "version": "0x21", "year": 2022, "week": 9}}}]})");
  // 0x20220400 is past the first silicon's month: variant 6b, whose
  // pattern generators the first silicon lacks.
  ExpectResetValues(Parse("6b"), {{0x20200D30, 0x20220400}, {0x2020A038, 0x00320105}});
  const std::vector<uint8_t> name = ReadBytes(0x90000230, 16);
  EXPECT_EQ(std::string(name.begin(), name.end()), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(ReadBytes(0x90000020, 8), (std::vector<uint8_t>{0x00, 0x12, 0x34, 0x21, 22, 9, 0x00, 0x00}));
}

TEST_F(RegisterPlacementTest, FirstSilicon6aKeepsOnlyItsOwnRegisters) {
  Open(R"({"devices": [{"chip": {"type": 6, "date_code": "0x202203FF"}}]})");
  const regmap::Map a = Parse("6a");
  ExpectResetValues(a, {{0x20200D30, 0x202203FF}, {0x2020A038, 0x02140101}});
  // TX0_VRR_RANGE exists in 6b only; its reset value is not 0.
  const regmap::Map b = Parse("6b");
  for (const regmap::Register& r : b.registers) {
    if (r.name == "TX0_VRR_RANGE") {
      ASSERT_NE(r.reset, 0u);
      EXPECT_EQ(ReadWord(r.address), 0u);
    }
  }
}

TEST_F(RegisterPlacementTest, OverridesThenScenarioMemoryWin) {
  Open(R"({"devices": [{
      "registers": {"map_file": ")" + kSource + R"(/tests/data/regmap/small.map",
                    "overrides": {"CORE_GPIO_RX": "0x01000000", "RX_ML_FRM2_CTRL": 5}},
      "memory": {"0x20300400": "AA 00 00 00"}}]})");
  EXPECT_EQ(ReadWord(0x2020A100), 0x01000000u);  // CORE_GPIO_RX, reset 0
  EXPECT_EQ(ReadWord(0x20300800), 5u);           // RX_ML_FRM2_CTRL, reset 0x21
  EXPECT_EQ(ReadWord(0x20300400), 0xAAu);        // RX_ML_FRM1_CTRL from "memory"
  EXPECT_EQ(ReadWord(0x20300C00), 0x21u);        // RX_ML_FRM3_CTRL untouched
  EXPECT_EQ(ReadWord(0x2020A038), 0x00320105u);  // CORE_MCU_FW_VERSION as the map gives it
  EXPECT_EQ(ReadWord(0x20200D30), 0u);           // no chip section: no date code
}

TEST_F(RegisterPlacementTest, ShippedExampleScenarios) {
  struct Case {
    const char* file;
    uint32_t dateCode, fwVersionAddress, fwVersion, fwNameAddress;
    const char* fwName;
  } cases[] = {
      {"type5-converter.json", 0x20201105, 0x20200230, 0x0A320105, 0x900002F0, "TARVIK_HDMI_2P1"},
      {"type6-converter.json", 0x20230101, 0x2020A038, 0x03150207, 0x90000230, "MONDELO_MST_4P"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    sim::VirtualHost local;
    std::string error;
    ASSERT_TRUE(sim::LoadScenarioFile(kSource + "/sim/scenarios/" + c.file, local, error)) << error;
    sim::VirtualConverter& converter = local.Converter(0);
    EXPECT_EQ(converter.Memory().ReadU32(0x20200D30), c.dateCode);
    EXPECT_EQ(converter.Memory().ReadU32(c.fwVersionAddress), c.fwVersion);
    char name[17] = {};
    converter.Memory().Read(c.fwNameAddress, reinterpret_cast<uint8_t*>(name), 16);
    EXPECT_STREQ(name, c.fwName);
  }
}

TEST(RegisterPlacementErrors, BadSectionsAreRefusedWithTheirPlace) {
  const std::string smallMap = kSource + "/tests/data/regmap/small.map";
  struct Case {
    std::string device;
    std::string error;
  } cases[] = {
      {R"("registers": {"variant": "7"})", R"(registers: variant: expected "5", "6a", "6b", "4a" or "4b")"},
      {R"("registers": {})", R"(registers: give either "variant" or "map_file")"},
      {R"("registers": {"variant": "5", "map_file": "x.map"})", R"(registers: give either "variant" or "map_file")"},
      {R"("registers": {"variant": "5", "base": 1})", R"(registers: unknown key "base")"},
      {R"("registers": {"variant": "5", "overrides": {"CORE_NOPE": 1}})",
       "registers: overrides: no register CORE_NOPE in " + kSource + "/chipdb/maps/variant-5.map"},
      {R"("registers": {"variant": "5", "overrides": {"CORE_GPIO_RX": "0x100000000"}})",
       "registers: overrides: CORE_GPIO_RX: "},
      {R"("registers": {"map_file": "/nonexistent/x.map"})", "registers: /nonexistent/x.map:0: cannot open file"},
      {R"("chip": {"type": 7})", "chip: type: expected 4, 5 or 6"},
      {R"("chip": {"date_code": 1})", "chip: type: expected 4, 5 or 6"},
      {R"("chip": {"type": 5, "fw_name": "ABCDEFGHIJKLMNOPQ"})", "chip: fw_name: expected a text of at most 16 bytes"},
      {R"("chip": {"type": 5, "chip_info": "00 01"})", "chip: chip_info: expected 8 bytes"},
      {R"("chip": {"type": 5, "chip_info": {"year": 1999}})",
       "chip: chip_info: year: expected 2000 to 2255, or 0 for none"},
      {R"("chip": {"type": 4, "fw_name": "X"})",
       "chip: chip type 4 has no configuration or data memory for fw_name and chip_info"},
      {R"("chip": {"type": 5}, "registers": {"map_file": ")" + smallMap + R"("})",
       "chip: type 5 does not match the register map of chip type 6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device);
    sim::VirtualHost host;
    std::string error;
    EXPECT_FALSE(sim::LoadScenarioText(R"({"devices": [{)" + c.device + "}]}", host, error));
    // Number parse errors carry their own wording after the place.
    const std::string expected = "devices[0]: " + c.error;
    if (c.error.back() == ' ') {
      EXPECT_EQ(error.substr(0, expected.size()), expected);
    } else {
      EXPECT_EQ(error, expected);
    }
  }
}

}  // namespace
}  // namespace ktq::testing

// ktq info and ktq reg over scenario converters: whole outputs, exit
// statuses and the requests on the wire.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>

#include "chipdb/embedded_databases.h"
#include "tests/support/ktq_run.h"
#include "tools/regmap/regmap.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

class KtqChipTest : public ::testing::Test {
 protected:
  KtqRun Ktq(const std::string& arguments) { return RunKtq(arguments, files); }

  // One converter with the given memory entries ("ADDRESS": "BYTES", ...).
  std::string Scenario(const std::string& memory) {
    const std::string path = files + "scenario.json";
    std::ofstream(path) << R"({"devices": [{"memory": {)" << memory << "}}]}";
    return "--simulate=" + path;
  }

  std::vector<std::string> TraceOutputs() {
    std::ifstream in(trace);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
      line = line.substr(line.find(' ') + 1);
      if (line.rfind("OUT ", 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  static std::string Zeros(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += " 00";
    return s;
  }

  static unsigned Registers(const char* variant) {
    const chipdb::EmbeddedVariant* v = chipdb::FindEmbeddedVariant(variant);
    return v ? v->recordCount : 0;
  }

  std::string files = (::ktq::testing::TestDir().string() + "/");
  std::string trace = files + "trace.txt";
};

// Identity of a type-6 chip of the later generation: version 1.05.050 and a
// 15-character firmware name at CONFIG_MEMORY_ADDR + 0xF0.
const char kMondelo[] =
    R"("0x20200D30": "00 04 22 20", "0x2020A038": "05 01 32 00",)"
    R"( "0x90000230": "4B 54 51 2D 46 57 2D 31 32 33 34 35 36 37 38 39 39")";
const char kTarvik[] = R"("0x20200D30": "05 11 20 20", "0x20200230": "07 02 01 00")";

TEST_F(KtqChipTest, InfoShowsTheChipAsTheWindowWould) {
  KtqRun r = Ktq(Scenario(kMondelo) + " info");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Chip type: Mondelo\r\nCurrent FW version = 1.05.050\nCurrent FW name = KTQ-FW-12345678\n"
                   "Register database: variant 6b, " + std::to_string(Registers("6b")) + " registers\n");
  EXPECT_EQ(r.err, "");

  // An identity field that cannot be read is printed as the window shows
  // it, and the run is no success.
  r = Ktq(Scenario(kTarvik) + " info");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Chip type: Tarvik\r\nCurrent FW version = 2.07.001\nGet FW name FAILED!!\n"
                   "Register database: variant 5, " + std::to_string(Registers("5")) + " registers\n");
  EXPECT_EQ(r.err, "ktq: the firmware name could not be read.\n");

  r = Ktq(Scenario(kMondelo) + " info --json");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out),
            nlohmann::json({{"path", "sim:0"}, {"serial", "SIM0"}, {"chip_type", 6}, {"chip_name", "Mondelo"},
                            {"firmware_version", "1.05.050"}, {"firmware_name", "KTQ-FW-12345678"},
                            {"register_database", "6b"}, {"registers", Registers("6b")}}));
}

// Identification that fails because the converter vanished is not an
// unsupported chip.
TEST_F(KtqChipTest, VanishedConverterIsNotAnUnsupportedChip) {
  const KtqRun r = Ktq(Scenario(kMondelo) + " info");
  EXPECT_EQ(r.status, 0) << r.err;
  std::ofstream(files + "gone.json") << R"({"devices": [{"faults": [{"kind": "unplug", "after_requests": 0}]}]})";
  const KtqRun gone = Ktq("--simulate=" + files + "gone.json info");
  EXPECT_EQ(gone.status, 3);
  EXPECT_EQ(gone.out, "");
  // The removal report comes from the watch thread, before or after.
  EXPECT_THAT(gone.err, ::testing::HasSubstr("ktq: the converter at sim:0 was disconnected during identification.\n"));
  EXPECT_THAT(gone.err, ::testing::Not(::testing::HasSubstr("not supported")));
}

TEST_F(KtqChipTest, InfoOnAnUnsupportedChipFails) {
  for (const char* dateCode : {"99 02 22 20", "08 06 19 20"}) {
    const KtqRun r = Ktq(Scenario(std::string(R"("0x20200D30": ")") + dateCode + "\"") + " info");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("Device not supported!\r\nktq: the chip of this converter is not supported (date code 0x") +
                         (dateCode[0] == '9' ? "20220299" : "20190608") + ").\n");
  }
}

TEST_F(KtqChipTest, RegListFiltersByPartOrWildcard) {
  KtqRun r = Ktq(Scenario(kTarvik) + " reg list CORE_MCU_SPAD[04]");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0x20200280  CORE_MCU_SPAD0\n0x20200290  CORE_MCU_SPAD4\n");
  EXPECT_EQ(r.err, "");

  // A part of a name, and a wildcard over the whole name: every match of
  // the map source, in its order.
  regmap::Map map;
  std::string error;
  ASSERT_TRUE(regmap::ParseMapFile(KTQ_SOURCE_DIR "/chipdb/maps/variant-6b.map", map, error)) << error;
  std::string part, wildcard;
  for (const regmap::Register& reg : map.registers) {
    char line[96];
    std::snprintf(line, sizeof line, "0x%08X  %s\n", reg.address, reg.name.c_str());
    if (reg.name.find("MCU_SW_INT") != std::string::npos) part += line;
    if (reg.name.rfind("TX", 0) == 0 && reg.name.size() > 21 &&
        reg.name.compare(reg.name.size() - 21, 21, "_INTR_HPD0_INT_STATUS") == 0) {
      wildcard += line;
    }
  }
  ASSERT_NE(part, "");
  ASSERT_NE(wildcard, "");
  r = Ktq(Scenario(kMondelo) + " reg list MCU_SW_INT");
  EXPECT_EQ(r.out, part);
  r = Ktq(Scenario(kMondelo) + " reg list 'TX*_INTR_HPD0_INT_STATUS'");
  EXPECT_EQ(r.out, wildcard);

  // Case does not matter, for parts and wildcards alike.
  r = Ktq(Scenario(kMondelo) + " reg list mcu_sw_int");
  EXPECT_EQ(r.out, part);
  r = Ktq(Scenario(kMondelo) + " reg list 'tx*_intr_hpd0_int_status'");
  EXPECT_EQ(r.out, wildcard);

  r = Ktq(Scenario(kMondelo) + " reg list NO_SUCH_THING");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ktq: no register matches NO_SUCH_THING\n");
}

TEST_F(KtqChipTest, RegReadDecodesEveryFieldFromTheMap) {
  // The expected text is built from the map source itself, so the packed and
  // expanded database is checked against what the map says.
  regmap::Map map;
  std::string error;
  ASSERT_TRUE(regmap::ParseMapFile(KTQ_SOURCE_DIR "/chipdb/maps/variant-5.map", map, error)) << error;
  const regmap::Register& reg = map.registers.front();
  ASSERT_EQ(reg.name, "CORE_CLK_SYS_CLK_FREQ_DET");
  const KtqRun r = Ktq(Scenario(std::string(kTarvik) + R"(, "0x20200000": "18 4B F2 8D")") +
                       " --trace " + trace + " reg read CORE_CLK_SYS_CLK_FREQ_DET");
  ASSERT_EQ(r.status, 0) << r.err;
  std::string expected = "CORE_CLK_SYS_CLK_FREQ_DET at 0x20200000 = 0x8DF24B18 (reset 0x0DF24B18)\n  " +
                         reg.description + "\n";
  const char* ranges[] = {"[5:0]  ", "[14:6] ", "[19:16]", "[24:20]", "[25]   ", "[26]   ", "[27]   ", "[31]   "};
  const char* values[] = {"0x18 (24)", "0x12C (300)", "0x2 (2)", "0x1F (31)", "0x0 (0)", "0x1 (1)", "0x1 (1)", "0x1 (1)"};
  const char* resets[] = {"0x18", "0x12C", "0x2", "0x1F", "0x0", "0x1", "0x1", "0x0"};
  ASSERT_EQ(reg.fields.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    expected += std::string("  ") + ranges[i] + " " + reg.fields[i].name + " = " + values[i] + ", reset " +
                resets[i] + ": " + reg.fields[i].description + "\n";
  }
  EXPECT_EQ(r.out, expected);
  // Date code, version, name, chip info, then the register itself.
  const auto outs = TraceOutputs();
  ASSERT_EQ(outs.size(), 5u);
  EXPECT_EQ(outs[4], "OUT 01 00 0C 00 00 B1 00 00 00 20 20 04 00 00 00 FF" + Zeros(46));
}

TEST_F(KtqChipTest, RegWriteSendsTheValueLittleEndian) {
  const KtqRun r = Ktq(Scenario(kMondelo) + " --trace " + trace + " reg write CORE_MCU_SPAD4 0xA1B2C3D4 -y");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const auto outs = TraceOutputs();
  ASSERT_FALSE(outs.empty());
  // Length 16, command 0x21|0x80, address 0x2020B010, 4 bytes, checksum.
  EXPECT_EQ(outs.back(), "OUT 01 00 10 00 00 A1 00 10 B0 20 20 04 00 00 00 D4 C3 B2 A1 61" + Zeros(42));
}

TEST_F(KtqChipTest, RegErrors) {
  struct Case {
    std::string args;
    int status;
    std::string err;
  };
  const std::string usage = "Usage: ktq [OPTIONS] reg list [PATTERN] | read NAME | write NAME VALUE\n";
  const Case cases[] = {
      {" reg read core_mcu_spad0", 2, "ktq: no register core_mcu_spad0 in database variant 6b\n"},
      {" reg write NO_SUCH_REG 1 --yes", 2, "ktq: no register NO_SUCH_REG in database variant 6b\n"},
      {" reg write CORE_MCU_SPAD4 0x100000000", 2, "ktq: bad VALUE: 0x100000000\n" + usage},
      {" reg", 2, "ktq: reg takes list [PATTERN], read NAME or write NAME VALUE\n" + usage},
      {" reg read", 2, "ktq: reg takes list [PATTERN], read NAME or write NAME VALUE\n" + usage},
      {" reg erase X", 2, "ktq: reg takes list [PATTERN], read NAME or write NAME VALUE\n" + usage},
  };
  for (const Case& c : cases) {
    const KtqRun r = Ktq(Scenario(kMondelo) + c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_EQ(r.err, c.err) << c.args;
  }
  // Not supported: the message goes to standard error, nothing to standard output.
  const KtqRun r = Ktq(Scenario(R"("0x20200D30": "08 06 19 20")") + " reg read CORE_MCU_SPAD0");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Device not supported!\r\nktq: the chip of this converter is not supported (date code 0x20190608).\n");
}

// The registers that identification and the device link use resolve on
// every main chip type.
TEST_F(KtqChipTest, DeviceLinkRegistersResolve) {
  struct Case {
    const char* memory;
    const char* name;
    const char* address;
  };
  const Case cases[] = {
      {kTarvik, "CORE_MCU_SPAD0", "0x20200280"},        {kTarvik, "CORE_MCU_SPAD4", "0x20200290"},
      {kTarvik, "CORE_MCU_SW_INTERRUPT", "0x2020021C"}, {kTarvik, "CORE_MCU_FW_VERSION", "0x20200230"},
      {kMondelo, "CORE_MCU_SPAD0", "0x2020B000"},       {kMondelo, "CORE_MCU_SPAD4", "0x2020B010"},
      {kMondelo, "CORE_MCU_SW_INTERRUPT", "0x2020A024"}, {kMondelo, "CORE_MCU_FW_VERSION", "0x2020A038"},
  };
  for (const Case& c : cases) {
    const KtqRun r = Ktq(Scenario(c.memory) + " reg read " + c.name);
    EXPECT_EQ(r.status, 0) << c.name << r.err;
    EXPECT_THAT(r.out, ::testing::StartsWith(std::string(c.name) + " at " + c.address + " = ")) << c.name;
  }
}

}  // namespace
}  // namespace ktq::testing

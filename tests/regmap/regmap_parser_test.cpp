#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tools/regmap/regmap.h"
#include "tests/support/test_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string kData = std::string(KTQ_SOURCE_DIR) + "/tests/data/regmap";

struct Expected {
  const char* name;
  uint32_t address;
  uint32_t reset;
};

// The file, and its text given as the top file of the same folder (its
// includes are found beside it).
TEST(RegmapParser, SmallMapEmitsEveryRegisterInOrder) {
  const std::string path = kData + "/small.map";
  std::ifstream file(path);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  for (const bool fromText : {false, true}) {
    SCOPED_TRACE(fromText ? "from text" : "from the file");
    regmap::Map map;
    std::string error;
    ASSERT_TRUE(fromText ? regmap::ParseMapText(text, path, map, error) : regmap::ParseMapFile(path, map, error))
        << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(map.variant, "6a");
    EXPECT_EQ(map.chipType, 6);
    EXPECT_EQ(map.nameBase, 0x04FF6FF8u);

    const std::vector<Expected> expected = {
        {"CORE_CLK_SYS_CLK_FREQ_DET", 0x20200000, 0x0DF24B18},
        {"CORE_MCU_FW_VERSION", 0x2020A038, 0x00320105},
        {"CORE_GPIO_RX", 0x2020A100, 0},
        {"RX_ML_FRM0_CTRL", 0x20300000, 0x21},
        {"RX_ML_FRM0_STATUS", 0x20300004, 0},
        {"RX_ML_FRM1_CTRL", 0x20300400, 0x21},
        {"RX_ML_FRM1_STATUS", 0x20300404, 0},
        {"RX_ML_FRM2_CTRL", 0x20300800, 0x21},
        {"RX_ML_FRM2_STATUS", 0x20300804, 0},
        {"RX_ML_FRM3_CTRL", 0x20300C00, 0x21},
        {"RX_ML_FRM3_STATUS", 0x20300C04, 0},
        {"TX0_INTR_HPD0_INT_STATUS", 0x20400100, 2},
        {"TX0_CTRL", 0x20400000, 0xA5},
        {"TX0_PHY_LANE1_CTRL", 0x20400200, 1},
        {"TX0_PHY_LANE2_CTRL", 0x20400204, 1},
        {"TX1_INTR_HPD0_INT_STATUS", 0x20440100, 2},
        {"TX1_CTRL", 0x20440000, 0xA5},
        {"TX1_PHY_LANE1_CTRL", 0x20440200, 1},
        {"TX1_PHY_LANE2_CTRL", 0x20440204, 1},
        {"RX_ML_FRM7_CTRL", 0x20500000, 0x21},
        {"RX_ML_FRM7_STATUS", 0x20500004, 0},
    };
    ASSERT_EQ(map.registers.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      SCOPED_TRACE(expected[i].name);
      EXPECT_EQ(map.registers[i].name, expected[i].name);
      EXPECT_EQ(map.registers[i].address, expected[i].address);
      EXPECT_EQ(map.registers[i].reset, expected[i].reset);
    }
  }
}

TEST(RegmapParser, FieldsAndDescriptionsAreKeptAndSubstituted) {
  regmap::Map map;
  std::string error;
  ASSERT_TRUE(regmap::ParseMapFile(kData + "/small.map", map, error)) << error;

  const regmap::Register& clk = map.registers[0];
  EXPECT_EQ(clk.description, "System clock frequency detector.");
  ASSERT_EQ(clk.fields.size(), 8u);
  const regmap::Field& ref = clk.fields[0];
  EXPECT_EQ(ref.name, "REF_CNT");
  EXPECT_EQ(ref.description, "Frequency of crystal clock (in MHz), which is the reference period.");
  EXPECT_EQ(ref.lsb, 0u);
  EXPECT_EQ(ref.width, 6u);
  EXPECT_EQ(ref.reset, 24u);
  EXPECT_EQ(clk.fields[2].description, "Allowed \"margin\" \\ tolerance.");
  EXPECT_EQ(clk.fields[7].name, "STABLE");
  EXPECT_EQ(clk.fields[7].lsb, 31u);

  // A register given a RESET, and one given nothing, carry one whole-word field.
  for (size_t i : {1u, 2u}) {
    ASSERT_EQ(map.registers[i].fields.size(), 1u);
    const regmap::Field& data = map.registers[i].fields[0];
    EXPECT_EQ(data.name, "DATA");
    EXPECT_EQ(data.lsb, 0u);
    EXPECT_EQ(data.width, 32u);
    EXPECT_EQ(data.reset, map.registers[i].reset);
  }

  const regmap::Register& frm2 = map.registers[7];
  EXPECT_EQ(frm2.description, "Frame 2 control.");
  ASSERT_EQ(frm2.fields.size(), 2u);
  EXPECT_EQ(frm2.fields[0].description, "Enable frame 2.");
  EXPECT_EQ(map.registers[15].description, "Hot-plug interrupt status of port 1.");
  // Two placeholders: the port's from the outer use, the lane's from `as m`.
  const regmap::Register& lane = map.registers[17];
  EXPECT_EQ(lane.name, "TX1_PHY_LANE1_CTRL");
  EXPECT_EQ(lane.description, "Lane 1 of port 1; {x} stays as written.");
  ASSERT_EQ(lane.fields.size(), 1u);
  EXPECT_EQ(lane.fields[0].name, "SWING_1");
  EXPECT_EQ(lane.fields[0].description, "Swing of lane 1.");
}

TEST(RegmapParser, MissingTopLevelFile) {
  regmap::Map map;
  map.variant = "kept";
  std::string error;
  const std::string path = kData + "/no-such.map";
  EXPECT_FALSE(regmap::ParseMapFile(path, map, error));
  EXPECT_EQ(error, path + ":0: cannot open file");
  EXPECT_EQ(map.variant, "kept");  // the output is untouched on failure
}

// Each case is a set of files in a scratch folder; "top.map" is parsed.
struct ErrorCase {
  const char* what;
  std::map<std::string, std::string> files;
  std::string error;  // with "DIR/" standing for the scratch folder
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.what; }

const char* kHead = "variant 5\nchip 5\nname-base 0x1000\n";

std::string Head(const std::string& rest) { return kHead + rest; }

class RegmapErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RegmapErrors, ReportsFileLineAndMessage) {
  const ErrorCase& c = GetParam();
  const fs::path dir = ::ktq::testing::TestDir();
  for (const auto& [name, text] : c.files) {
    fs::create_directories((dir / name).parent_path());
    std::ofstream(dir / name, std::ios::binary) << text;
  }
  regmap::Map map;
  std::string error;
  EXPECT_FALSE(regmap::ParseMapFile((dir / "top.map").string(), map, error));
  std::string expected = c.error;
  for (size_t pos; (pos = expected.find("DIR/")) != std::string::npos;) expected.replace(pos, 4, dir.string() + "/");
  EXPECT_EQ(error, expected);
  fs::remove_all(dir);
}

std::string NameOfLength(size_t n) { return std::string(n, 'A'); }

const std::string kLong60 = NameOfLength(60);
const std::string kTooManyFields = [] {
  std::string s = Head("reg R 0x0 \"r\"\n");
  for (int i = 0; i < 33; ++i) s += "field F" + std::to_string(i) + " " + std::to_string(i % 32) + " 1 0 \"f\"\n";
  return s;
}();

// T0 holds a register; Tk uses T(k-1): using T16 nests 17 deep, and the
// seventeenth use (T1's use of T0, line 8) is refused.
const std::string kDeepTemplates = [] {
  std::string s = Head("template T0\nreg A +0 \"a\"\nend\n");
  for (int k = 1; k <= 16; ++k) {
    s += "template T" + std::to_string(k) + "\nuse T" + std::to_string(k - 1) + " at +0\nend\n";
  }
  return s + "use T16 at 0x0\n";
}();

// top.map includes 1.map, which includes 2.map, ...: 15.map is the
// sixteenth file and may not include another.
const std::map<std::string, std::string> kDeepIncludes = [] {
  std::map<std::string, std::string> files{{"top.map", Head("include \"1.map\"\n")}};
  for (int k = 1; k <= 17; ++k) files[std::to_string(k) + ".map"] = "include \"" + std::to_string(k + 1) + ".map\"\n";
  return files;
}();

const ErrorCase kErrorCases[] = {
    {"empty file", {{"top.map", ""}}, "DIR/top.map:1: no 'variant' directive"},
    {"no chip", {{"top.map", "variant 5\nname-base 0\n"}}, "DIR/top.map:2: no 'chip' directive"},
    {"no name base", {{"top.map", "variant 5\nchip 5\n"}}, "DIR/top.map:2: no 'name-base' directive"},
    {"register before variant", {{"top.map", "chip 5\nreg A 0x0 \"a\"\n"}},
     "DIR/top.map:2: registers before the 'variant' directive"},
    {"second variant", {{"top.map", Head("variant 5\n")}}, "DIR/top.map:4: second 'variant' directive"},
    {"unknown variant", {{"top.map", "variant 7\n"}}, "DIR/top.map:1: unknown variant '7' (5, 6a, 6b, 4a or 4b)"},
    {"unknown chip", {{"top.map", "chip 7\n"}}, "DIR/top.map:1: unknown chip type 7 (4, 5 or 6)"},
    {"variant of another chip", {{"top.map", "variant 6b\nchip 5\n"}},
     "DIR/top.map:2: variant 6b does not belong to chip type 5"},
    {"header in included file", {{"top.map", "include \"b.map\"\n"}, {"b.map", "variant 5\n"}},
     "DIR/b.map:1: 'variant' belongs in the top-level file"},
    {"unknown directive", {{"top.map", Head("register A 0x0 \"a\"\n")}},
     "DIR/top.map:4: unknown directive 'register'"},
    {"lower-case name", {{"top.map", Head("reg Core 0x0 \"a\"\n")}},
     "DIR/top.map:4: register name 'Core' may hold only A-Z, 0-9 and _"},
    {"placeholder outside a template", {{"top.map", Head("reg A{n} 0x0 \"a\"\n")}},
     "DIR/top.map:4: register name 'A{n}' may hold only A-Z, 0-9 and _"},
    {"name of 60 characters", {{"top.map", Head("reg " + kLong60 + " 0x0 \"a\"\n")}},
     "DIR/top.map:4: register name '" + kLong60 + "' is longer than 59 characters"},
    {"duplicate name", {{"top.map", Head("reg A 0x0 \"a\"\nreg A 0x4 \"a\"\n")}},
     "DIR/top.map:5: register 'A' already defined at DIR/top.map:4"},
    {"duplicate address", {{"top.map", Head("reg A 0x10 \"a\"\nreg B 0x10 \"b\"\n")}},
     "DIR/top.map:5: address 0x00000010 of 'B' already taken by 'A'"},
    {"unaligned address", {{"top.map", Head("reg A 0x2 \"a\"\n")}},
     "DIR/top.map:4: address of 'A' is not a multiple of 4"},
    {"number beyond 32 bits", {{"top.map", Head("reg A 0x100000000 \"a\"\n")}},
     "DIR/top.map:4: invalid address '0x100000000' (a 32-bit decimal or 0x number)"},
    {"decimal beyond 32 bits", {{"top.map", Head("reg A 0 4294967296 \"a\"\n")}},
     "DIR/top.map:4: invalid reset value '4294967296' (a 32-bit decimal or 0x number)"},
    {"not a number", {{"top.map", Head("reg A 0x1G \"a\"\n")}},
     "DIR/top.map:4: invalid address '0x1G' (a 32-bit decimal or 0x number)"},
    {"unterminated string", {{"top.map", Head("reg A 0x0 \"a\n")}}, "DIR/top.map:4: unterminated string"},
    {"bad escape", {{"top.map", Head("reg A 0x0 \"a\\n\"\n")}}, "DIR/top.map:4: unknown escape \\n in string"},
    {"description not quoted", {{"top.map", Head("reg A 0x0 text\n")}},
     "DIR/top.map:4: expected a description in double quotes, found 'text'"},
    {"field with no register", {{"top.map", Head("field F 0 1 0 \"f\"\n")}},
     "DIR/top.map:4: 'field' with no register above it"},
    {"field after a register with RESET", {{"top.map", Head("reg A 0x0 5 \"a\"\nfield F 0 1 0 \"f\"\n")}},
     "DIR/top.map:5: register 'A' has a RESET value and so takes no fields"},
    {"field of width 0", {{"top.map", Head("reg A 0x0 \"a\"\nfield F 0 0 0 \"f\"\n")}},
     "DIR/top.map:5: field 'F' has width 0"},
    {"field beyond bit 31", {{"top.map", Head("reg A 0x0 \"a\"\nfield F 30 3 0 \"f\"\n")}},
     "DIR/top.map:5: field 'F' reaches beyond bit 31"},
    {"field position 32", {{"top.map", Head("reg A 0x0 \"a\"\nfield F 32 1 0 \"f\"\n")}},
     "DIR/top.map:5: field 'F' reaches beyond bit 31"},
    {"field reset too wide", {{"top.map", Head("reg A 0x0 \"a\"\nfield F 4 2 4 \"f\"\n")}},
     "DIR/top.map:5: reset value of field 'F' does not fit 2 bits"},
    {"overlapping fields", {{"top.map", Head("reg A 0x0 \"a\"\nfield F 0 4 0 \"f\"\nfield G 3 1 0 \"g\"\n")}},
     "DIR/top.map:6: field 'G' of 'A' overlaps or precedes field 'F'"},
    {"descending fields", {{"top.map", Head("reg A 0x0 \"a\"\nfield F 8 4 0 \"f\"\nfield G 0 1 0 \"g\"\n")}},
     "DIR/top.map:6: field 'G' of 'A' overlaps or precedes field 'F'"},
    {"duplicate field name", {{"top.map", Head("reg A 0x0 \"a\"\nfield F 0 1 0 \"f\"\nfield F 1 1 0 \"f\"\n")}},
     "DIR/top.map:6: field 'F' appears twice in 'A'"},
    {"33 fields", {{"top.map", kTooManyFields}}, "DIR/top.map:37: register 'R' has more than 32 fields"},
    {"unterminated template", {{"top.map", Head("template T\nreg A +0x0 \"a\"\n")}},
     "DIR/top.map:4: template 'T' has no 'end'"},
    {"end without template", {{"top.map", Head("end\n")}}, "DIR/top.map:4: 'end' without 'template'"},
    {"template defined twice",
     {{"top.map", Head("template T\nreg A +0 \"a\"\nend\ntemplate T\nreg B +0 \"b\"\nend\n")}},
     "DIR/top.map:7: template 'T' already defined at DIR/top.map:4"},
    {"empty template", {{"top.map", Head("template T\nend\n")}}, "DIR/top.map:4: template 'T' has no registers"},
    {"absolute address in template", {{"top.map", Head("template T\nreg A 0x4 \"a\"\nend\n")}},
     "DIR/top.map:5: addresses inside templates are offsets (+0x...)"},
    {"offset outside template", {{"top.map", Head("reg A +0x4 \"a\"\n")}},
     "DIR/top.map:4: an offset outside a template; use an absolute address"},
    {"include inside template", {{"top.map", Head("template T\ninclude \"b.map\"\nend\n")}},
     "DIR/top.map:5: 'include' is not allowed inside a template"},
    {"unknown template", {{"top.map", Head("use T at 0x0\n")}}, "DIR/top.map:4: unknown template 'T'"},
    {"template using itself",
     {{"top.map", Head("template T\nreg A{n} +0 \"a\"\nuse T at +0x10\nend\nuse T at 0x0\n")}},
     "DIR/top.map:6: template 'T' uses itself"},
    {"count without stride", {{"top.map", Head("template T\nreg A{n} +0 \"a\"\nend\nuse T at 0x0 count 2\n")}},
     "DIR/top.map:7: 'count' and 'stride' go together"},
    {"count 0", {{"top.map", Head("template T\nreg A{n} +0 \"a\"\nend\nuse T at 0x0 count 0 stride 4\n")}},
     "DIR/top.map:7: count must be at least 1"},
    {"copies clash", {{"top.map", Head("template T\nreg A{n} +0 \"a\"\nend\nuse T at 0x0 count 2 stride 0\n")}},
     "DIR/top.map:5: address 0x00000000 of 'A1' already taken by 'A0' (used at DIR/top.map:7)"},
    {"copy beyond 32 bits",
     {{"top.map", Head("template T\nreg A{n} +0 \"a\"\nend\nuse T at 0xFFFFFFF0 count 2 stride 0x10\n")}},
     "DIR/top.map:5: address of 'A1' lies beyond 32 bits (used at DIR/top.map:7)"},
    {"too many registers",
     {{"top.map", Head("template T\nreg A{n} +0 \"a\"\nend\nuse T at 0x0 count 4000000000 stride 4\n")}},
     "DIR/top.map:5: more than 12288 registers (used at DIR/top.map:7)"},
    {"unbound placeholder in a name", {{"top.map", Head("template T\nreg A{m} +0 \"a\"\nend\nuse T at 0x0\n")}},
     "DIR/top.map:5: register name 'A{m}' may hold only A-Z, 0-9 and _"},
    {"index from an unbound placeholder",
     {{"top.map", Head("template T\nreg A{n} +0 \"a\"\nend\ntemplate U\nuse T at +0 index {q}\nend\nuse U at 0x0\n")}},
     "DIR/top.map:8: placeholder {q} has no value here"},
    {"placeholder not lower-case",
     {{"top.map", Head("template T\nreg A{n} +0 \"a\"\nend\nuse T at 0x0 as N\n")}},
     "DIR/top.map:7: placeholder names are lower-case letters"},
    {"include of something that is not a file", {{"top.map", Head("include \"/dev/zero\"\n")}},
     "DIR/top.map:4: cannot open included file '/dev/zero'"},
    {"templates nested too deep", {{"top.map", kDeepTemplates}}, "DIR/top.map:8: templates nested deeper than 16 uses"},
    {"includes nested too deep", kDeepIncludes, "DIR/15.map:1: includes nested deeper than 16 files"},
    {"missing include", {{"top.map", Head("include \"gone.map\"\n")}},
     "DIR/top.map:4: cannot open included file 'DIR/gone.map'"},
    {"include loop", {{"top.map", Head("include \"a.map\"\n")}, {"a.map", "include \"sub/b.map\"\n"},
                      {"sub/b.map", "include \"../a.map\"\n"}},
     "DIR/sub/b.map:1: include loop: 'DIR/sub/../a.map' is already being read"},
    {"file including itself", {{"top.map", Head("include \"top.map\"\n")}},
     "DIR/top.map:4: include loop: 'DIR/top.map' is already being read"},
};

INSTANTIATE_TEST_SUITE_P(Cases, RegmapErrors, ::testing::ValuesIn(kErrorCases),
                         [](const auto& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

}  // namespace

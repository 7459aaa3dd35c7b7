// Checks the shipped register map sources against what the device logic
// relies on: the registers it names for each chip type, the fixed addresses,
// the port strides, and the multi-word blocks it reads in one request.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tools/regmap/regmap.h"

namespace {

const std::string kMaps = std::string(KTQ_SOURCE_DIR) + "/chipdb/maps/";

struct Variant {
  const char* id;
  int chipType;
  uint32_t nameBase;
};

const Variant kVariants[] = {
    {"5", 5, 0x04596FF8}, {"6a", 6, 0x04FF6FF8}, {"6b", 6, 0x051E6FF8},
    {"4a", 4, 0x056D1B88}, {"4b", 4, 0x04D86FF8},
};

void PrintTo(const Variant& v, std::ostream* os) { *os << "variant " << v.id; }

class LoadedMap {
 public:
  explicit LoadedMap(const std::string& id) {
    std::string error;
    ok_ = regmap::ParseMapFile(kMaps + "variant-" + id + ".map", map_, error);
    error_ = error;
    for (const auto& r : map_.registers) {
      byName_.emplace(r.name, &r);
      byAddress_.emplace(r.address, &r);
    }
  }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const regmap::Map& map() const { return map_; }
  const regmap::Register* Find(const std::string& name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
  }
  const regmap::Register* At(uint32_t address) const {
    auto it = byAddress_.find(address);
    return it == byAddress_.end() ? nullptr : it->second;
  }

 private:
  regmap::Map map_;
  bool ok_ = false;
  std::string error_;
  std::map<std::string, const regmap::Register*> byName_;
  std::map<uint32_t, const regmap::Register*> byAddress_;
};

const LoadedMap& Load(const std::string& id) {
  static std::map<std::string, LoadedMap> cache;
  auto it = cache.find(id);
  if (it == cache.end()) it = cache.emplace(id, LoadedMap(id)).first;
  return it->second;
}

// Names that the device logic reads or writes, by the chip types that use them.
const std::vector<std::string> kAllTypes = {
    // mailbox, identification, chip information
    "CORE_MCU_SPAD0", "CORE_MCU_SPAD4", "CORE_MCU_SW_INTERRUPT", "CORE_MCU_FW_VERSION",
    "CORE_MCU_BOOTLOADER_STS", "CORE_CLK_REG_CLK_CTRL",
    // interrupt-status section
    "RX_INTR_HPD_INT_STATUS", "RX_INTR_HDCP_INT_STATUS", "TX0_INTR_HPD0_INT_STATUS",
    "TX0_INTR_HDMI_FRL_INT_STATUS",
    // strides, DSC decoders, virtual channels, receiver lock and errors
    "RX_ML_FRM0_CTRL", "RX_DEC0_CTRL", "RX_DEC1_CTRL", "RX_ML_VC_SLOT_USE_0", "RX_ML_VC_DFRM0_DFRM_VCID0",
    "RX_ML_VC_TX0_TX_VCID0", "RX_ML_PHY_LOCK_STATES", "RX_ML_PHY_ERR_COUNTERS_0", "RX_ML_PHY_ERR_COUNTERS_1",
    "RX_ML_PHY_ERR_COUNTERS_2", "RX_ML_PHY_ERR_COUNTERS_3", "TX0_MISC_DP_HDMI_CTRL_0",
    "TX0_ML_COMMON_TX_GENERAL_CTRL",
};

// The first link-status layout (chip types 4 and 5) and its slot report.
const std::vector<std::string> kFirstLayout = {
    "CORE_MCU_PASSWD", "CORE_PD_TCPC_CTRL_0", "RX_HPD_PIN_CONFIG", "RX_HPD_SRC_DET_CTRL", "RX_ML_PHY_MODES",
    "RX_ML_COMMON_RX_GENERAL_CTRL", "RX_ML_FRM0_MSA_MISC", "RX_AUD_LSCLK0_VSC_PKT_DATA", "RX_ML_FRM0_VBID",
    "RX_ML_FRM1_VBID", "RX_ML_FRM0_MSA_TOTALS", "RX_AUD_LSCLK0_AUDIO_EN", "RX_AUD_LSCLK0_DECODE_STATUS",
    "RX_AUD_LSCLK0_EXTRACTED_CH_STATUS_LSB", "RX_ML_PHY_FEC_CONFIG", "RX_ML_FRM0_MEASUREMENT_CTRL",
    "RX_ML_FRM0_MEASURED3", "RX_ML_HDCP_CTRL_STS", "RX_ML_HDCP_MODE", "RX_ML_HDCP_ECF_RECEIVED_0",
    "RX_ML_HDCP_ECF_RECEIVED_1", "RX_ML_HDCP_HDCP22_TYPE_LOW", "RX_ML_HDCP_HDCP22_TYPE_HIGH",
    "TX0_HDMI_HDCP_CTRL0", "TX1_MISC_DP_HDMI_CTRL_0", "TX1_ML_HDCP_MODE", "TX0_ML_HDCP_CTRL_STS",
    "TX0_ML_HDCP_MODE", "TX0_HDMI_HDCP_LINK_STATUS", "RX_ML_FRM0_VIF_PIX_CTRL0", "TX1_ML_FRM_CTRL",
    "TX1_ML_FRM_STRM_CTRL0", "TX0_HDMI_VIDP_OUT_CTRL", "TX0_HDMI_PHY_CTRL", "TX1_ML_FRM_TOTALS",
    "TX1_ML_FRM_FRM_CTRL3", "TX1_ML_FRM_FRAME_STAT0", "TX1_DP_AUD_CTRL", "RX_AUD_LSCLK1_DATA_VIA_SPIF_EN",
    "TX1_MISC_SPARE0", "RX_ML_FRM0_ACTUAL_TOTALS", "RX_DEC0_ACTUAL_TOTALS", "TX0_HDMI_VIDP_ACT_VID_WH",
    "TX0_HDMI_FRM_TMDS_PKT_GEN_CTRL", "TX1_ML_COMMON_TX_GENERAL_CTRL", "TX1_ML_VC_SLOT_USE_0",
};

const std::vector<std::string> kType5Only = {"CORE_GPIO_RX"};

const std::vector<std::string> kType4Only = {"TX1_INTR_HPD0_INT_STATUS", "TX1_INTR_HDMI_FRL_INT_STATUS",
                                             "RX_ML_FRM1_CTRL"};

// The second layout (chip type 6), its slot report and the type-6 lines of
// the chip information and the dump.
const std::vector<std::string> kType6 = {
    "CORE_MCU_SPAD14", "CORE_MCU_FW_VER_GIT_SHA", "CORE_DFT_BUILD_DATE", "CORE_GPIO_RX",
    "TX1_INTR_HPD0_INT_STATUS", "TX1_INTR_HDMI_FRL_INT_STATUS", "TX2_INTR_HPD0_INT_STATUS",
    "TX2_INTR_HDMI_FRL_INT_STATUS", "TX3_INTR_HPD0_INT_STATUS", "TX3_INTR_HDMI_FRL_INT_STATUS",
    "RX_ML_FRM1_CTRL", "RX_ML_DP2_PHY_STAT", "TX0_ML_VC_SLOT_USE_0",
    "RX_ML_PHY_FEC_ERR_CNT_0", "RX_ML_PHY_FEC_ERR_CNT_1", "RX_ML_PHY_FEC_ERR_CNT_2", "RX_ML_PHY_FEC_ERR_CNT_3",
    "RX_ML_PHY_FEC_BIT_ERR_CNT_0", "RX_ML_PHY_FEC_BIT_ERR_CNT_1", "RX_ML_PHY_FEC_BIT_ERR_CNT_2",
    "RX_ML_PHY_FEC_BIT_ERR_CNT_3", "RX_ML_DP2_PHY_ERR_COUNTERS_0", "RX_ML_DP2_PHY_ERR_COUNTERS_1",
    "RX_ML_DP2_PHY_ERR_COUNTERS_2", "RX_ML_DP2_PHY_ERR_COUNTERS_3", "RX_ML_DP2_PHY_FEC_ERR_CNT_0",
    "RX_ML_DP2_PHY_FEC_ERR_CNT_1", "RX_ML_DP2_PHY_FEC_ERR_CNT_2", "RX_ML_DP2_PHY_FEC_ERR_CNT_3",
    "RX_ML_DP2_PHY_FEC_BIT_ERR_CNT_0", "RX_ML_DP2_PHY_FEC_BIT_ERR_CNT_1", "RX_ML_DP2_PHY_FEC_BIT_ERR_CNT_2",
    "RX_ML_DP2_PHY_FEC_BIT_ERR_CNT_3",
};

std::vector<std::string> NamesFor(int chipType) {
  std::vector<std::string> names = kAllTypes;
  auto add = [&](const std::vector<std::string>& more) { names.insert(names.end(), more.begin(), more.end()); };
  if (chipType == 4 || chipType == 5) add(kFirstLayout);
  if (chipType == 5) add(kType5Only);
  if (chipType == 4) add(kType4Only);
  if (chipType == 6) add(kType6);
  return names;
}

// Runs of consecutive words that the device logic reads in one request.
struct WordRun {
  const char* first;
  int words;
  int chipTypes;  // bit mask: 1 << type
};

constexpr int k4 = 1 << 4, k5 = 1 << 5, k6 = 1 << 6;

const WordRun kRuns[] = {
    {"CORE_MCU_SPAD0", 16, k4 | k5 | k6},  // I2C speed test pattern, mailbox
    {"RX_DEC0_CTRL", 36, k4 | k5 | k6},    // DSC decoder block
    {"RX_DEC1_CTRL", 36, k4 | k5 | k6},
    {"RX_ML_VC_SLOT_USE_0", 16, k4 | k5 | k6},
    {"RX_ML_VC_DFRM0_DFRM_VCID0", 4, k4 | k5 | k6},
    {"RX_ML_VC_TX0_TX_VCID0", 3, k4 | k5 | k6},
    {"RX_ML_FRM0_MSA_TOTALS", 5, k4 | k5},
    {"RX_ML_FRM0_ACTUAL_TOTALS", 4, k4 | k5},
    {"RX_DEC0_ACTUAL_TOTALS", 4, k4 | k5},
    {"RX_AUD_LSCLK0_EXTRACTED_CH_STATUS_LSB", 2, k4 | k5},
    {"TX1_ML_FRM_TOTALS", 4, k4 | k5},
    {"TX1_ML_VC_SLOT_USE_0", 16, k4 | k5},
    {"TX0_ML_VC_SLOT_USE_0", 16, k6},
};

class MapSources : public ::testing::TestWithParam<Variant> {
 protected:
  const LoadedMap& map() const { return Load(GetParam().id); }
};

TEST_P(MapSources, ParsesWithItsHeader) {
  const LoadedMap& m = map();
  ASSERT_TRUE(m.ok()) << m.error();
  EXPECT_EQ(m.map().variant, GetParam().id);
  EXPECT_EQ(m.map().chipType, GetParam().chipType);
  EXPECT_EQ(m.map().nameBase, GetParam().nameBase);
}

TEST_P(MapSources, HoldsEveryRegisterTheDeviceLogicNames) {
  const LoadedMap& m = map();
  ASSERT_TRUE(m.ok()) << m.error();
  for (const std::string& name : NamesFor(GetParam().chipType)) {
    EXPECT_NE(m.Find(name), nullptr) << name << " missing from variant " << GetParam().id;
  }
}

TEST_P(MapSources, MailboxAndVersionRegistersAtTheirFixedAddresses) {
  const LoadedMap& m = map();
  ASSERT_TRUE(m.ok()) << m.error();
  const bool second = GetParam().chipType == 6;
  const std::pair<const char*, uint32_t> fixed[] = {
      {"CORE_MCU_SPAD0", second ? 0x2020B000u : 0x20200280u},
      {"CORE_MCU_SPAD4", second ? 0x2020B010u : 0x20200290u},
      {"CORE_MCU_SW_INTERRUPT", second ? 0x2020A024u : 0x2020021Cu},
      {"CORE_MCU_FW_VERSION", second ? 0x2020A038u : 0x20200230u},
  };
  for (const auto& [name, address] : fixed) {
    const regmap::Register* r = m.Find(name);
    ASSERT_NE(r, nullptr) << name;
    EXPECT_EQ(r->address, address) << name;
  }
  // The date code that identification reads before any map is loaded.
  EXPECT_NE(m.At(0x20200D30), nullptr);
}

TEST_P(MapSources, MultiWordReadsCoverRegistersOnly) {
  const LoadedMap& m = map();
  ASSERT_TRUE(m.ok()) << m.error();
  for (const WordRun& run : kRuns) {
    if (!(run.chipTypes & (1 << GetParam().chipType))) continue;
    const regmap::Register* first = m.Find(run.first);
    ASSERT_NE(first, nullptr) << run.first;
    for (int i = 1; i < run.words; ++i) {
      EXPECT_NE(m.At(first->address + 4u * i), nullptr) << run.first << " word " << i;
    }
  }
}

TEST_P(MapSources, InterruptStatusBlocksEndAboveTheirStart) {
  const LoadedMap& m = map();
  ASSERT_TRUE(m.ok()) << m.error();
  const int ports = GetParam().chipType == 6 ? 4 : GetParam().chipType == 4 ? 2 : 1;
  std::vector<std::pair<std::string, std::string>> blocks = {{"RX_INTR_HPD_INT_STATUS", "RX_INTR_HDCP_INT_STATUS"}};
  for (int t = 0; t < ports; ++t) {
    const std::string p = "TX" + std::to_string(t);
    blocks.emplace_back(p + "_INTR_HPD0_INT_STATUS", p + "_INTR_HDMI_FRL_INT_STATUS");
  }
  for (const auto& [firstName, endName] : blocks) {
    const regmap::Register* first = m.Find(firstName);
    const regmap::Register* end = m.Find(endName);
    ASSERT_NE(first, nullptr) << firstName;
    ASSERT_NE(end, nullptr) << endName;
    ASSERT_GT(end->address, first->address + 4) << firstName;  // a block of at least two registers
    for (uint32_t a = first->address; a < end->address; a += 4) {
      EXPECT_NE(m.At(a), nullptr) << firstName << " block has a hole at " << std::hex << a;
    }
  }
}

// Port i's copy of a port-0 register lies at the port-0 address plus i
// times the stride; checked for every port-0 register of the family.
void ExpectStrided(const LoadedMap& m, const std::string& prefix0, const std::string& prefixFormat, int copies,
                   uint32_t stride) {
  int checked = 0;
  for (const regmap::Register& r : m.map().registers) {
    if (r.name.rfind(prefix0, 0) != 0) continue;
    for (int i = 1; i < copies; ++i) {
      std::string name = prefixFormat;
      name.replace(name.find('#'), 1, std::to_string(i));
      name += r.name.substr(prefix0.size());
      const regmap::Register* copy = m.Find(name);
      ASSERT_NE(copy, nullptr) << name;
      EXPECT_EQ(copy->address, r.address + stride * i) << name;
      ++checked;
    }
  }
  EXPECT_GT(checked, 0) << prefix0;
}

TEST_P(MapSources, PortCopiesLieAtTheirStrides) {
  const LoadedMap& m = map();
  ASSERT_TRUE(m.ok()) << m.error();
  const int type = GetParam().chipType;
  if (type == 5) {
    EXPECT_EQ(m.Find("RX_ML_FRM1_CTRL"), nullptr);  // single-stream receiver
    return;
  }
  const regmap::Register* frm0 = m.Find("RX_ML_FRM0_CTRL");
  const regmap::Register* frm1 = m.Find("RX_ML_FRM1_CTRL");
  const regmap::Register* tx0 = m.Find("TX0_INTR_HPD0_INT_STATUS");
  const regmap::Register* tx1 = m.Find("TX1_INTR_HPD0_INT_STATUS");
  ASSERT_TRUE(frm0 && frm1 && tx0 && tx1);
  const uint32_t rxStride = frm1->address - frm0->address;
  const uint32_t txStride = tx1->address - tx0->address;
  if (type == 6) {
    EXPECT_EQ(rxStride, 0x400u);
    EXPECT_EQ(txStride, 0x40000u);
  }
  const int ports = type == 6 ? 4 : 2;
  ExpectStrided(m, "RX_ML_FRM0_", "RX_ML_FRM#_", 4, rxStride);
  ExpectStrided(m, "RX_AUD_LSCLK0_", "RX_AUD_LSCLK#_", 4, 0x400);
  ExpectStrided(m, "TX0_", "TX#_", ports, txStride);
}

INSTANTIATE_TEST_SUITE_P(Variants, MapSources, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string("v") + info.param.id; });

TEST(MapSources, FirstRecordOfVariant5) {
  const LoadedMap& m = Load("5");
  ASSERT_TRUE(m.ok()) << m.error();
  ASSERT_FALSE(m.map().registers.empty());
  const regmap::Register& r = m.map().registers.front();
  EXPECT_EQ(r.name, "CORE_CLK_SYS_CLK_FREQ_DET");
  EXPECT_EQ(r.address, 0x20200000u);
  EXPECT_EQ(r.reset, 0x0DF24B18u);
  struct F {
    const char* name;
    uint32_t lsb, width, reset;
  };
  const F expected[] = {{"REF_CNT", 0, 6, 24},       {"MON_CNT", 6, 9, 300},   {"MARGIN", 16, 4, 2},
                        {"STABLE_CNT", 20, 5, 31},   {"SOFT_RST", 25, 1, 0},   {"REF_CLK_EN", 26, 1, 1},
                        {"USB2_UTMI_CLK_EN", 27, 1, 1}, {"STABLE", 31, 1, 0}};
  ASSERT_EQ(r.fields.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(r.fields[i].name, expected[i].name);
    EXPECT_EQ(r.fields[i].lsb, expected[i].lsb) << expected[i].name;
    EXPECT_EQ(r.fields[i].width, expected[i].width) << expected[i].name;
    EXPECT_EQ(r.fields[i].reset, expected[i].reset) << expected[i].name;
  }
  EXPECT_EQ(r.fields[0].description, "Frequency of crystal clock (in MHz), which is the reference period.");
}

TEST(MapSources, CompanionMailboxMatchesChipType5) {
  const LoadedMap& five = Load("5");
  for (const char* id : {"4a", "4b"}) {
    const LoadedMap& four = Load(id);
    ASSERT_TRUE(four.ok()) << four.error();
    for (const char* name : {"CORE_MCU_SPAD0", "CORE_MCU_SPAD4", "CORE_MCU_SW_INTERRUPT"}) {
      ASSERT_TRUE(four.Find(name) && five.Find(name)) << name;
      EXPECT_EQ(four.Find(name)->address, five.Find(name)->address) << id << " " << name;
    }
  }
}

// The register dump leaves out runs in the 0x60 window (and, on chip type 6,
// the 0x70 window); the maps keep registers there for the report to skip.
TEST(MapSources, RegistersInTheWindowsTheDumpSkips) {
  auto countTop = [](const LoadedMap& m, uint32_t top) {
    int n = 0;
    for (const auto& r : m.map().registers) n += (r.address >> 24) == top;
    return n;
  };
  for (const char* id : {"5", "6a", "6b", "4b"}) EXPECT_GT(countTop(Load(id), 0x60), 0) << id;
  for (const char* id : {"6a", "6b"}) EXPECT_GT(countTop(Load(id), 0x70), 0) << id;
}

}  // namespace

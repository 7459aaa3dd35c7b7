// Loading the embedded register databases over the virtual converter.
#include "chipdb/register_db.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "chipdb/embedded_databases.h"
#include "device/rc_command.h"
#include "tests/support/sim_fixture.h"

namespace ktq::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr uint32_t kMissing = 0xFFFFFFFF;

class RegisterDbTest : public SimFixture {
 protected:
  sim::VirtualConverter& Converter(uint32_t dateCode) {
    sim::VirtualConverter& c = OpenConverter();
    c.Memory().WriteU32(chipdb::kChipDateCodeAddress, dateCode);
    return c;
  }
};

// Runs first in its process (CTest starts one process per test).
TEST_F(RegisterDbTest, BeforeTheFirstLoadNothingResolves) {
  EXPECT_THAT(RegisterList(), IsEmpty());
  EXPECT_EQ(GetRegisterAddress("CORE_MCU_SPAD0"), kMissing);
  EXPECT_EQ(NamedAddressTable("CHIP_TYPE_ADDR"), 0u);
  EXPECT_EQ(chipdb::LoadedVariant(), "");
}

TEST_F(RegisterDbTest, TypeFiveLoadsVariantFiveWithoutAskingTheChip) {
  auto& c = Converter(0x20201105);
  ASSERT_EQ(LoadRegisterDatabase(5), 0);
  EXPECT_THAT(Requests(c), IsEmpty());
  EXPECT_EQ(chipdb::LoadedVariant(), "5");
  EXPECT_EQ(RegisterList().size(), chipdb::FindEmbeddedVariant("5")->recordCount);

  EXPECT_EQ(GetRegisterAddress("CORE_MCU_SPAD0"), 0x20200280u);
  EXPECT_EQ(GetRegisterAddress("CORE_MCU_SPAD4"), 0x20200290u);
  EXPECT_EQ(GetRegisterAddress("CORE_MCU_SW_INTERRUPT"), 0x2020021Cu);
  EXPECT_EQ(GetRegisterAddress("CORE_MCU_FW_VERSION"), 0x20200230u);
  EXPECT_EQ(GetRegisterAddress("RX_ML_FRM0_CTRL") != kMissing, true);
  EXPECT_EQ(GetRegisterAddress("RX_ML_FRM1_CTRL"), kMissing);
  // Exact, case-sensitive names only.
  EXPECT_EQ(GetRegisterAddress("core_mcu_spad0"), kMissing);
  EXPECT_EQ(GetRegisterAddress("CORE_MCU_SPAD"), kMissing);
  EXPECT_EQ(GetRegisterAddress("CORE_MCU_SPAD0 "), kMissing);
  EXPECT_EQ(GetRegisterAddress(""), kMissing);

  // The first record, field by field.
  const RegisterEntry& first = RegisterList().front();
  EXPECT_EQ(first.name, "CORE_CLK_SYS_CLK_FREQ_DET");
  EXPECT_EQ(first.address, 0x20200000u);
  chipdb::RegisterInfo info;
  ASSERT_TRUE(chipdb::DescribeRegister("CORE_CLK_SYS_CLK_FREQ_DET", info));
  EXPECT_EQ(info.address, 0x20200000u);
  EXPECT_EQ(info.reset, 0x0DF24B18u);
  std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>> fields;
  for (const auto& f : info.fields) fields.emplace_back(std::string(f.name), f.lsb, f.width, f.reset);
  EXPECT_THAT(fields, ElementsAre(std::make_tuple("REF_CNT", 0, 6, 24), std::make_tuple("MON_CNT", 6, 9, 300),
                                  std::make_tuple("MARGIN", 16, 4, 2), std::make_tuple("STABLE_CNT", 20, 5, 31),
                                  std::make_tuple("SOFT_RST", 25, 1, 0), std::make_tuple("REF_CLK_EN", 26, 1, 1),
                                  std::make_tuple("USB2_UTMI_CLK_EN", 27, 1, 1),
                                  std::make_tuple("STABLE", 31, 1, 0)));
  EXPECT_EQ(info.fields[0].description, "Frequency of crystal clock (in MHz), which is the reference period.");
  EXPECT_FALSE(chipdb::DescribeRegister("core_clk_sys_clk_freq_det", info));
}

TEST_F(RegisterDbTest, NamedAddressTablesOfBothMainChipTypes) {
  Converter(0x20220400);
  const char* keys[] = {"CHIP_TYPE_ADDR",    "CHIP_VERSION_ADDR", "EDID_MEMORY_ADDR", "CONFIG_MEMORY_ADDR",
                        "ADDR_RX_STATE",     "ADDR_RX_LINK_RATE", "ADDR_RX_BASE",     "ADDR_RX_DSC",
                        "ADDR_TX0_BASE",     "ADDR_TX0_DSC"};
  auto table = [&] {
    std::vector<uint32_t> values;
    for (const char* key : keys) values.push_back(NamedAddressTable(key));
    return values;
  };
  ASSERT_EQ(LoadRegisterDatabase(5), 0);
  EXPECT_THAT(table(), ElementsAre(0x900000BE, 0x90000020, 0x90001E3C, 0x90000200, 0x90000401, 0x900007F8,
                                   0x900007F8, 0x900008AD, 0x90000A60, 0x90000B21));
  ASSERT_EQ(LoadRegisterDatabase(6), 0);
  EXPECT_THAT(table(), ElementsAre(0x9000003E, 0x90000020, 0x90002FD0, 0x90000140, 0x90000520, 0x90000A4C,
                                   0x90000A4C, 0x90000A61, 0x90000D00, 0x90000D0D));
  EXPECT_EQ(NamedAddressTable("chip_type_addr"), 0u);
  EXPECT_EQ(NamedAddressTable("NO_SUCH_KEY"), 0u);

  // A companion-chip load keeps the main chip's table.
  ASSERT_EQ(LoadRegisterDatabase(4), 0);
  EXPECT_THAT(table(), ElementsAre(0x9000003E, 0x90000020, 0x90002FD0, 0x90000140, 0x90000520, 0x90000A4C,
                                   0x90000A4C, 0x90000A61, 0x90000D00, 0x90000D0D));
}

TEST_F(RegisterDbTest, VariantFollowsTheDateCode) {
  struct Case {
    int32_t type;
    uint32_t dateCode;
    bool readFails;
    const char* variant;
  };
  const Case cases[] = {
      {6, 0x20220300, false, "6a"}, {6, 0x202203FF, false, "6a"}, {6, 0x20220400, false, "6b"},
      {6, 0x20230101, false, "6b"}, {6, 0x20220400, true, "6a"},  {4, 0x20190608, false, "4a"},
      {4, 0x20190609, false, "4b"}, {4, 0x20190600, false, "4b"}, {4, 0x20190608, true, "4b"},
  };
  auto& c = Converter(0);
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << k.type << " date code " << std::hex << k.dateCode
                                      << (k.readFails ? " (read fails)" : ""));
    c.Memory().WriteU32(chipdb::kChipDateCodeAddress, k.dateCode);
    if (k.readFails) c.AddFault(sim::Fault::Status(0x55).AtAddress(chipdb::kChipDateCodeAddress));
    const size_t before = Requests(c).size();
    ASSERT_EQ(LoadRegisterDatabase(k.type), 0);
    EXPECT_EQ(chipdb::LoadedVariant(), k.variant);
    // One 4-byte read of the date code, nothing else.
    const auto requests = Requests(c);
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back(), MakeRequest(UPDC_READ_FROM_MEMORY, chipdb::kChipDateCodeAddress, 4, {}));
    EXPECT_EQ(GetRegisterAddress("CORE_MCU_SPAD0"), k.type == 6 ? 0x2020B000u : 0x20200280u);
    EXPECT_EQ(GetRegisterAddress("CORE_MCU_FW_VERSION"), k.type == 6 ? 0x2020A038u : 0x20200230u);
  }
  EXPECT_THAT(c.ProtocolErrors(), IsEmpty());
}

TEST_F(RegisterDbTest, UnknownTypeChangesNothing) {
  Converter(0x20220400);
  ASSERT_EQ(LoadRegisterDatabase(6), 0);
  const std::vector<RegisterEntry> before = RegisterList();
  const uint32_t rx = RxPortStride(), tx = TxPortStride();
  for (int32_t type : {7, 0, 3, -1}) {
    EXPECT_EQ(LoadRegisterDatabase(type), 242);
  }
  ASSERT_EQ(RegisterList().size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), RegisterList().begin(),
                         [](const RegisterEntry& a, const RegisterEntry& b) {
                           return a.name == b.name && a.address == b.address;
                         }));
  EXPECT_EQ(chipdb::LoadedVariant(), "6b");
  EXPECT_EQ(NamedAddressTable("CHIP_TYPE_ADDR"), 0x9000003Eu);
  EXPECT_EQ(RxPortStride(), rx);
  EXPECT_EQ(TxPortStride(), tx);
  chipdb::RegisterInfo info;
  EXPECT_TRUE(chipdb::DescribeRegister("CORE_MCU_SPAD0", info));
  EXPECT_EQ(info.address, 0x2020B000u);
}

// Whatever index the lookup uses, it must answer exactly as a scan from the
// first entry would, for every name of every variant.
TEST_F(RegisterDbTest, LookupAgreesWithAFirstMatchScan) {
  struct Load {
    int32_t type;
    uint32_t dateCode;
  };
  auto& c = Converter(0);
  for (const Load& load : {Load{5, 0}, Load{6, 0x20220300}, Load{6, 0x20220400}, Load{4, 0x20190608},
                           Load{4, 0}}) {
    c.Memory().WriteU32(chipdb::kChipDateCodeAddress, load.dateCode);
    ASSERT_EQ(LoadRegisterDatabase(load.type), 0);
    SCOPED_TRACE(std::string(chipdb::LoadedVariant()));
    const auto& list = RegisterList();
    ASSERT_FALSE(list.empty());
    for (const RegisterEntry& entry : list) {
      const auto first = std::find_if(list.begin(), list.end(),
                                      [&](const RegisterEntry& e) { return e.name == entry.name; });
      ASSERT_EQ(GetRegisterAddress(entry.name), first->address) << entry.name;
      std::string lower = entry.name;
      std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
      ASSERT_EQ(GetRegisterAddress(lower), kMissing) << lower;
    }
  }
}

}  // namespace
}  // namespace ktq::testing

// The dump's layouts and decoders on small inputs: hex blocks, register
// blocks and the register walk (with the requests they make), the chip
// information lines, the port status records, the slot tables, the DSC
// lines and the host block.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "chipdb/register_db.h"
#include "device/rc_command.h"
#include "diagnostics/chip_info.h"
#include "diagnostics/dump.h"
#include "diagnostics/host_info.h"
#include "diagnostics/port_record.h"
#include "diagnostics/rx_dsc_info.h"
#include "diagnostics/vc_slot_report.h"
#include "tests/dump/dump_fixture.h"

namespace ktq::testing {
namespace {

std::vector<uint8_t> Counting(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

TEST(HexBlock, LinesOfSixteenWithAGapAfterTheEighthByte) {
  struct Case {
    uint32_t start;
    size_t length;
    bool closeLine;
    std::string text;
  };
  const Case cases[] = {
      // A DPCD block of 16 bytes: one line, then the empty line its close makes.
      {0x60, 16, true,
       "00000060h: 00 01 02 03 04 05 06 07   08 09 0A 0B 0C 0D 0E 0F\r\n\r\n"},
      // 34 bytes: three lines, the last with two bytes, no empty line.
      {0x0, 34, true,
       "00000000h: 00 01 02 03 04 05 06 07   08 09 0A 0B 0C 0D 0E 0F\r\n"
       "00000010h: 10 11 12 13 14 15 16 17   18 19 1A 1B 1C 1D 1E 1F\r\n"
       "00000020h: 20 21\r\n"},
      // 24 bytes end right after the gap.
      {0x200, 24, true,
       "00000200h: 00 01 02 03 04 05 06 07   08 09 0A 0B 0C 0D 0E 0F\r\n"
       "00000210h: 10 11 12 13 14 15 16 17  \r\n"},
      // A memory row: four lines and no close.
      {0x90000040, 64, false,
       "90000040h: 00 01 02 03 04 05 06 07   08 09 0A 0B 0C 0D 0E 0F\r\n"
       "90000050h: 10 11 12 13 14 15 16 17   18 19 1A 1B 1C 1D 1E 1F\r\n"
       "90000060h: 20 21 22 23 24 25 26 27   28 29 2A 2B 2C 2D 2E 2F\r\n"
       "90000070h: 30 31 32 33 34 35 36 37   38 39 3A 3B 3C 3D 3E 3F\r\n"},
  };
  for (const Case& c : cases) {
    std::string text;
    const auto bytes = Counting(c.length);
    diag::AppendHexBlock(text, c.start, bytes.data(), static_cast<uint32_t>(c.length), c.closeLine);
    EXPECT_EQ(text, c.text) << c.length << " bytes at " << c.start;
  }
}

class DumpBlocks : public DumpFixture {
 protected:
  sim::VirtualConverter& Plain(const std::string& memory) {
    return LoadText(R"({"devices": [{"chip": {"type": 5}, "memory": {)" + memory + "}}]}");
  }
  static std::vector<sim::Report> Reads(const std::vector<std::pair<uint32_t, uint8_t>>& chunks) {
    std::vector<sim::Report> out;
    for (auto [address, count] : chunks) out.push_back(MakeRequest(UPDC_READ_FROM_MEMORY, address, count, {}));
    return out;
  }
};

TEST_F(DumpBlocks, RegisterBlockPrintsFourToALineAndWritesBackWhatItRead) {
  sim::VirtualConverter& c = Plain(R"("0x1000": "01 00 00 00 02 00 00 00 03 00 00 00 04 00 00 00 05 00 00 00")");
  c.SetTransferLog(true);
  std::string text;
  AppendRegisterBlock(text, 0x1000, 5, false);
  EXPECT_EQ(text, "\r\n001000h: 00000001 00000002 00000003 00000004\r\n001010h: 00000005\r\n");
  EXPECT_EQ(Requests(c), Reads({{0x1000, 4}, {0x1004, 4}, {0x1008, 4}, {0x100C, 4}, {0x1010, 4}}));

  c.SetTransferLog(false);
  c.SetTransferLog(true);
  text.clear();
  AppendRegisterBlock(text, 0x1004, 2, true);
  EXPECT_EQ(text, "");
  EXPECT_EQ(Requests(c), (std::vector<sim::Report>{MakeRequest(UPDC_READ_FROM_MEMORY, 0x1004, 4, {}),
                                                   MakeRequest(UPDC_WRITE_TO_MEMORY, 0x1004, 4, {2, 0, 0, 0}),
                                                   MakeRequest(UPDC_READ_FROM_MEMORY, 0x1008, 4, {}),
                                                   MakeRequest(UPDC_WRITE_TO_MEMORY, 0x1008, 4, {3, 0, 0, 0})}));

  text.clear();
  AppendRegisterBlock(text, 0x1000, 0, false);
  EXPECT_EQ(text, "\r\n");
}

TEST_F(DumpBlocks, RegisterBlockPrintsZeroAndWritesNothingForAFailedRead) {
  sim::VirtualConverter& c = Plain(R"("0x1000": "11 00 00 00 22 00 00 00")");
  c.AddFault(sim::Fault::Status(0x05).OnCommand(UPDC_READ_FROM_MEMORY).AtAddress(0x1004).Always());
  c.SetTransferLog(true);
  std::string text;
  AppendRegisterBlock(text, 0x1000, 2, false);
  EXPECT_EQ(text, "\r\n001000h: 00000011 00000000\r\n");
  AppendRegisterBlock(text, 0x1004, 1, true);
  EXPECT_EQ(Requests(c).size(), 3u);  // two reads, then one read and no write
}

TEST_F(DumpBlocks, RegisterWalkReadsRunsOfConsecutiveRegisters) {
  struct Case {
    const char* what;
    std::vector<uint32_t> addresses;
    uint32_t chipType;
    std::vector<std::pair<uint32_t, uint8_t>> chunks;  // the reads on the wire
  };
  std::vector<uint32_t> seventy;
  for (uint32_t k = 0; k < 70; ++k) seventy.push_back(0x2000 + 4 * k);
  const Case cases[] = {
      {"a gap ends a run", {0x100, 0x104, 0x108, 0x200}, 5, {{0x100, 12}, {0x200, 4}}},
      {"64 at most per run", seventy, 5,
       {{0x2000, 32}, {0x2020, 32}, {0x2040, 32}, {0x2060, 32}, {0x2080, 32}, {0x20A0, 32}, {0x20C0, 32},
        {0x20E0, 32}, {0x2100, 24}}},
      {"0x60 area skipped", {0x60000010, 0x60000014, 0x300}, 5, {{0x300, 4}}},
      {"0x70 area read on type 5", {0x70000000, 0x300}, 5, {{0x70000000, 4}, {0x300, 4}}},
      {"0x70 area skipped on type 6", {0x70000000, 0x300}, 6, {{0x300, 4}}},
      {"only the first address of a run is tested", {0x5FFFFFFC, 0x60000000}, 5, {{0x5FFFFFFC, 8}}},
  };
  sim::VirtualConverter& conv = Plain(R"("0x100": "78 56 34 12 FF FF FF FF")");
  for (const Case& c : cases) {
    conv.SetTransferLog(false);
    conv.SetTransferLog(true);
    std::vector<RegisterEntry> list;
    for (uint32_t a : c.addresses) list.push_back({"R", a});
    std::string text;
    diag::AppendRegisterWalk(text, list, c.chipType);
    EXPECT_EQ(Requests(conv), Reads(c.chunks)) << c.what;
    if (&c == &cases[0]) {
      EXPECT_EQ(text,
                "000100h: 0x12345678 (305419896)\r\n\r\n000104h: 0xFFFFFFFF (-1)\r\n\r\n"
                "000108h: 0x00000000 (0)\r\n\r\n000200h: 0x00000000 (0)\r\n\r\n");
    }
  }
}

TEST_F(DumpBlocks, RegisterWalkStopsAtAFailedRun) {
  sim::VirtualConverter& c = Plain(R"("0x100": "01 00 00 00")");
  c.AddFault(sim::Fault::Status(0x05).OnCommand(UPDC_READ_FROM_MEMORY).AtAddress(0x200));
  std::string text;
  diag::AppendRegisterWalk(text, {{"A", 0x100}, {"B", 0x200}, {"C", 0x300}}, 5);
  EXPECT_EQ(text, "000100h: 0x00000001 (1)\r\n\r\nread out the register (000200h) failed\r\n");
}

// AppendChipInfo over chips whose identity memory the scenario sets.
class ChipInfo : public DumpFixture {
 protected:
  std::string Report(const std::string& device) {
    LoadText(R"({"devices": [{"registers": {"variant": "5"}, )" + device + "}]}");
    std::string text;
    AppendChipInfo(text);
    return text;
  }
};

// Identity memory of a type-5 chip: EDID header, chip block, name area.
const char kEdidHeader[] = R"("0x90001E3C": "00 FF FF FF FF FF FF 00 2E 91 34 12 78 56 34 12 01 04")";

TEST_F(ChipInfo, WholeSectionOfAProgrammedChip) {
  const std::string text = Report(
      R"("chip": {"type": 5, "fw_version": "0x0A020105", "fw_name": "NAME", "chip_info": "00 12 34 21 16 09 00 00"},)"
      R"( "memory": {)" + std::string(kEdidHeader) + R"(, "0x20200224": "85 00 11 40", "0x20200004": "00 00 C8 00"})");
  EXPECT_EQ(text,
            "EDID information\r\n"
            "   Product ID: KTQ1234\r\n"
            "   Serial No: 305419896\r\n"
            "\r\nCHIP ID: KTQ1234\r\n"
            "CHIP version: C1\r\n"
            "Manufacture date: 9th week of the year 2022\r\n"
            "\r\n"
            "Firmware name: NAME\r\n"
            "Firmware version: 1.05.002\r\n"
            "Configuration file version: 0x00A\r\n"
            "\r\nBootloader version: 000\r\n"
            "\r\nBootstrap setting: 0x11\r\n"
            "\r\nActive flash bank: \t1\r\n"
            "   JTAG loading: \tEnabled\r\n   Service mode: \tNormal mode\r\n"
            "   Load speed: \t6Mbps\r\n"
            "   MCU speed: \t200MHz\r\n"
            "\r\nFirmware image load result: 0x85, error code: 00\r\n"
            "   Firmware code loading OK\r\n   Configuration block0 loading OK\r\n   Configuration block1 loading NG\r\n "
            "  HDCP 1.4 key check NG\r\n "
            "  HDCP 2.2 key check NG\r\n"
            "\r\nRunning in bootloader\r\n");
}

struct ChipInfoCase {
  const char* what;
  std::string device;
  std::string text;
  friend void PrintTo(const ChipInfoCase& c, std::ostream* os) { *os << c.what; }
};

const std::string kTail =
    "\r\nBootloader version: 000\r\n\r\nBootstrap setting: 0x00\r\n\r\nActive flash bank: \t0\r\n"
    "   JTAG loading: \tDisabled\r\n   Service mode: \tNormal mode\r\n   Load speed: \t50 Mbps\r\n"
    "   MCU speed: \t200MHz\r\n\r\nFirmware image load result: 0x00, error code: 00\r\n"
    "   Firmware code loading NG\r\n   Configuration block0 loading NG\r\n   Configuration block1 loading NG\r\n ";
const std::string kKeysChecked = "  HDCP 1.4 key check NG\r\n   HDCP 2.2 key check NG\r\n\r\nRunning in firmware\r\n";
const std::string kNoKeys =
    "  HDCP 1.4 key: not programmed\r\n   HDCP 2.2 key: not programmed \r\n\r\nRunning in firmware\r\n";

class ChipInfoFallback : public ChipInfo, public ::testing::WithParamInterface<ChipInfoCase> {};

TEST_P(ChipInfoFallback, WholeSection) { EXPECT_EQ(Report(GetParam().device), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ChipInfoFallback,
    ::testing::Values(
        ChipInfoCase{"EDID header unreadable: chip ID from the family byte 0x85",
                     R"("chip": {"type": 5, "chip_info": "00 12 34 21 16 09 01 00"}, "memory": {"0x90000202": "85"},)"
                     R"( "faults": [{"kind": "status", "command": "0x31", "address": "0x90001E3C", "status": 5}])",
                     "Read out EDID header failed\r\n\r\nCHIP ID: KTQ2405\r\nFirmware name: TARVIK_FW\r\n"
                     "Firmware version: 2.03.034\r\nConfiguration file version: 0x001\r\n" + kTail + kKeysChecked},
        ChipInfoCase{"no manufacture date, no HDCP keys, an invalid header",
                     R"("chip": {"type": 5, "chip_info": "00 12 34 21 00 00 00 00"}, "memory": {"0x90000202": "45"})",
                     "Invalid EDID header\r\n\r\nCHIP ID: KTQ1234\r\nCHIP version: C1\r\n\r\nFirmware name: TARVIK_FW\r\n"
                     "Firmware version: 2.03.034\r\nConfiguration file version: 0x001\r\n" + kTail + kNoKeys},
        ChipInfoCase{"erased flash and a family byte 0x45",
                     R"("chip": {"type": 5, "chip_info": "00 00 34 21 00 00 00 01"},)"
                     R"( "memory": {"0x90000202": "45", "0x900002F0": "FF FF FF FF"})",
                     "Invalid EDID header\r\n\r\nCHIP ID: KTQ2205\r\nFirmware name: - - - - - - \r\n"
                     "Firmware version: -- -- -- \r\nConfiguration file version: -- \r\n" + kTail + kKeysChecked},
        ChipInfoCase{"family byte 0x05", R"("chip": {"type": 5, "chip_info": "00 00 34 21 00 00 00 01"},)"
                     R"( "memory": {"0x90000202": "05"})",
                     "Invalid EDID header\r\n\r\nCHIP ID: KTQ2305\r\nFirmware name: TARVIK_FW\r\n"
                     "Firmware version: 2.03.034\r\nConfiguration file version: 0x001\r\n" + kTail + kKeysChecked}));

TEST(PortRecord, FieldsAndDerivedValues) {
  std::vector<uint8_t> bytes(diag::kPortRecordSize, 0);
  auto put = [&](size_t at, uint32_t v, size_t width) {
    for (size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, 0x9EF9, 2);
  put(8, 2200, 2);
  put(10, 1125, 2);
  put(20, 0x8005802C, 4);
  put(32, 148500, 4);
  struct Colour {
    uint32_t word, index, bpc;
  };
  const Colour colours[] = {{0x20, 0, 8},          {0x10, 3, 6},          {0x12, 2, 6},
                            {0x14, 1, 6},          {0x16, 1, 6},          {0x03034000, 3, 12},
                            {0x040F4000, 15, 0},   {0x80, 0, 0}};
  for (const Colour& c : colours) {
    put(24, c.word, 4);
    const diag::PortRecord r = diag::ParsePortRecord(bytes.data());
    EXPECT_EQ(r.ColourIndex(), c.index) << std::hex << c.word;
    EXPECT_EQ(r.Bpc(), c.bpc) << std::hex << c.word;
  }
  const diag::PortRecord r = diag::ParsePortRecord(bytes.data());
  EXPECT_EQ(r.Lanes(), 4u);
  EXPECT_EQ(r.RateCode(), 30u);
  EXPECT_EQ(r.Hsw(), 44u);
  EXPECT_EQ(r.Hpol(), 1u);
  EXPECT_EQ(r.Vsw(), 5u);
  EXPECT_EQ(r.Vpol(), 1u);
  EXPECT_EQ(r.Refresh100(), 6000u);
  EXPECT_EQ(r.ClockTenth(), 5u);
  put(8, 0, 2);
  EXPECT_EQ(diag::ParsePortRecord(bytes.data()).Refresh100(), 0u);
}

TEST(DscLines, BitsPerPixelAndRatioAreTruncated) {
  DscRecord r;
  r.majorVersion = 1;
  r.minorVersion = 2;
  r.bitsPerComponent = 10;
  r.lineBufferDepth = 11;
  r.pictureWidth = 3840;
  r.pictureHeight = 2160;
  r.sliceWidth = 960;
  r.sliceHeight = 54;
  r.chunkSize = 1200;
  r.bitsPerPixel16 = 0x9B;  // 9.6875 bpp
  r.control = 0x20000001;
  r.status = 0x3;
  r.flags = kDscFlagRgb | kDscFlagVbr;
  EXPECT_EQ(diag::DscStreamLines(r),
            "DSC1.2 stream: PIC 3840x2160, Slice 960x54, 9.69 BPP, Compress ratio: 3.1:1 \r\n"
            "  Chunk 1200, Line 11, RGB 1, S422: 0, VBR 1, BP 0, Ctrl 20000001, Sts 03\r\n");
  r.bitsPerPixel16 = 0;  // a decoder that never started
  EXPECT_EQ(diag::DscStreamLines(r),
            "DSC1.2 stream: PIC 3840x2160, Slice 960x54, 0.00 BPP, Compress ratio: 0.0:1 \r\n"
            "  Chunk 1200, Line 11, RGB 1, S422: 0, VBR 1, BP 0, Ctrl 20000001, Sts 03\r\n");
}

class SlotReport : public DumpFixture {};

TEST_F(SlotReport, SlotBytesVcidsAndTheTransmitterOfAType5Chip) {
  LoadText(R"({"devices": [{"chip": {"type": 5}, "registers": {"variant": "5", "overrides": {
      "RX_ML_VC_SLOT_USE_0": "0x7F014100", "RX_ML_VC_SLOT_USE_15": "0x41000000",
      "RX_ML_VC_DFRM0_DFRM_VCID0": "0x00000005", "RX_ML_VC_DFRM1_DFRM_VCID0": "0xDEADBEEF",
      "RX_ML_VC_DFRM2_DFRM_VCID0": "0x00000000", "RX_ML_VC_DFRM3_DFRM_VCID0": "0x000000C7",
      "TX1_ML_COMMON_TX_GENERAL_CTRL": "0x00000001", "TX1_ML_VC_SLOT_USE_0": "0x00031300",
      "RX_ML_VC_TX1_TX_VCID0": "0x00000402"}}}]})");
  std::string text;
  VcSlotReport(text);
  const std::string ff8 = " FF FF FF FF  FF FF FF FF";
  EXPECT_EQ(text,
            "RX VC slot info (FF means unused):\r\n"
            "   FF 01 FF 3F  FF FF FF FF   FF FF FF FF  FF FF FF FF\r\n"
            "  " + ff8 + "  " + ff8 + "\r\n" +
            "  " + ff8 + "  " + ff8 + "\r\n" +
            "  " + ff8 + "   FF FF FF FF  FF FF FF 01\r\n"
            "RFRM VCID list: 05 00 07\r\n\r\n"
            "TX1 VC slot info (FF means unused):\r\n"
            "   FF 13 FF FF  FF FF FF FF   FF FF FF FF  FF FF FF FF\r\n"
            "  " + ff8 + "  " + ff8 + "\r\n" +
            "  " + ff8 + "  " + ff8 + "\r\n" +
            "  " + ff8 + "  " + ff8 + "\r\n" +
            "TX1 VCID list: 02-04\r\n\r\n");
}

TEST(HostInfo, LinuxFactsOneLineEachAndNothingUnknown) {
  const std::filesystem::path root = TestDir();
  std::filesystem::create_directories(root / "etc");
  std::filesystem::create_directories(root / "proc");
  std::filesystem::create_directories(root / "sys/class/dmi/id");
  EXPECT_EQ(diag::HostInfoText(diag::ReadHostFacts(root.string())), "");

  std::ofstream(root / "etc/os-release") << "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n";
  std::ofstream(root / "proc/cpuinfo") << "processor\t: 0\nvendor_id\t: X\nmodel name\t: Example CPU @ 3.00GHz\n"
                                       << "processor\t: 1\nmodel name\t: Other\n";
  EXPECT_EQ(diag::HostInfoText(diag::ReadHostFacts(root.string())),
            "OS: Debian GNU/Linux 12\r\nCPU: Example CPU @ 3.00GHz\r\n");

  std::ofstream(root / "etc/os-release") << "PRETTY_NAME='Debian GNU/Linux 12 (bookworm)'\nNAME=Debian\n";
  std::ofstream(root / "sys/class/dmi/id/product_name") << "  Workstation\t9\r\n";
  EXPECT_EQ(diag::HostInfoText(diag::ReadHostFacts(root.string())),
            "OS: Debian GNU/Linux 12 (bookworm)\r\nHardware model: Workstation 9\r\nCPU: Example CPU @ 3.00GHz\r\n");
}

}  // namespace
}  // namespace ktq::testing

// DecodeEdid and the EDID text over crafted EDIDs: each case is a small EDID
// and the whole text it must give.
#include "diagnostics/edid_decoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "edid_builder.h"

namespace ktq::test {
namespace {

// What the default base block decodes to, up to the standard timing list.
const std::string kBaseText =
    "Base block: \r\n"
    "  Product name: , Product ID: ABC 1234\r\n"
    "  Serial No: 0, 2020 model\r\n"
    "  Preferred timing: 0x0@0Hz, Pixel clock: 0.00MHz, H/V Total: 0/0\r\n"
    "  Supported standard timing list: \r\n    ";

// 1920x1080, clock 148.5 MHz, blanking 280 pixels and 45 lines.
const std::vector<uint8_t> kTiming1080p = {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38,
                                                      0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00,
                                                      0x50, 0x1D, 0x74, 0x00, 0x00, 0x1E};

struct DecodeCase {
  const char* name;
  std::function<void(EdidBuilder&)> build;
  size_t extensions;
  std::string expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

std::string Decode(const std::vector<uint8_t>& edid) {
  std::string text;
  EXPECT_EQ(DecodeEdid(edid.data(), static_cast<uint32_t>(edid.size()), text), 0);
  return text;
}

const std::vector<DecodeCase> kBaseCases = {
    {"EmptyBaseBlock", [](EdidBuilder&) {}, 0, kBaseText + "\r\nNo extern block"},
    {"NameEndsAtLineFeed",
     [](EdidBuilder& e) { e.Set(72, {0, 0, 0, 0xFC, 0}).SetText(77, "MONITOR\n     "); }, 0,
     "Base block: \r\n  Product name: MONITOR, Product ID: ABC 1234\r\n"
     "  Serial No: 0, 2020 model\r\n"
     "  Preferred timing: 0x0@0Hz, Pixel clock: 0.00MHz, H/V Total: 0/0\r\n"
     "  Supported standard timing list: \r\n    \r\nNo extern block"},
    {"NameWithoutLineFeedKeepsTwelveCharacters",
     [](EdidBuilder& e) {
       e.Set(90, {0, 0, 0, 0xFC, 0}).SetText(95, "ABCDEFGHIJKLM");
       e.Set(108, {0, 0, 0, 0xFC, 0}).SetText(113, "LATER\n");  // only the first counts
     },
     0,
     "Base block: \r\n  Product name: ABCDEFGHIJKL, Product ID: ABC 1234\r\n"
     "  Serial No: 0, 2020 model\r\n"
     "  Preferred timing: 0x0@0Hz, Pixel clock: 0.00MHz, H/V Total: 0/0\r\n"
     "  Supported standard timing list: \r\n    \r\nNo extern block"},
    {"MakerSerialAndWeek",
     [](EdidBuilder& e) { e.Set(8, {0x6B, 0x5A, 0xCD, 0xAB, 0xFF, 0xFF, 0xFF, 0xFF, 12, 32}); }, 0,
     "Base block: \r\n  Product name: , Product ID: ZZZ ABCD\r\n"
     "  Serial No: -1, Manufacture date: 12th week, 2022\r\n"
     "  Preferred timing: 0x0@0Hz, Pixel clock: 0.00MHz, H/V Total: 0/0\r\n"
     "  Supported standard timing list: \r\n    \r\nNo extern block"},
    {"DigitalInterfaceWithDepth", [](EdidBuilder& e) { e.Set(20, {0xA5}); }, 0,
     "Base block: \r\n  Product name: , Product ID: ABC 1234\r\n  Serial No: 0, 2020 model\r\n"
     "  DisplayPort interface, support 8 bits color\r\n"
     "  Preferred timing: 0x0@0Hz, Pixel clock: 0.00MHz, H/V Total: 0/0\r\n"
     "  Supported standard timing list: \r\n    \r\nNo extern block"},
    {"ReservedInterfaceAndDepth", [](EdidBuilder& e) { e.Set(20, {0xF7}); }, 0,
     "Base block: \r\n  Product name: , Product ID: ABC 1234\r\n  Serial No: 0, 2020 model\r\n"
     "  Undefined interface, support 18 bits color\r\n"
     "  Preferred timing: 0x0@0Hz, Pixel clock: 0.00MHz, H/V Total: 0/0\r\n"
     "  Supported standard timing list: \r\n    \r\nNo extern block"},
    // Digital without a depth, and analog input, print no interface line.
    {"DigitalWithoutDepth", [](EdidBuilder& e) { e.Set(20, {0x81}); }, 0,
     kBaseText + "\r\nNo extern block"},
    {"AnalogInput", [](EdidBuilder& e) { e.Set(20, {0x6E}); }, 0, kBaseText + "\r\nNo extern block"},
    {"RangeLimitsWithOffsets",
     [](EdidBuilder& e) { e.Set(90, {0, 0, 0, 0xFD, 0x0A, 48, 90, 30, 45, 60, 0x0A}); }, 0,
     "Base block: \r\n  Product name: , Product ID: ABC 1234\r\n  Serial No: 0, 2020 model\r\n"
     "  Support range, VSync: 48-345Hz, HSync: 30-300KHz, Pixel clock: <=600MHz\r\n"
     "  Preferred timing: 0x0@0Hz, Pixel clock: 0.00MHz, H/V Total: 0/0\r\n"
     "  Supported standard timing list: \r\n    \r\nNo extern block"},
    {"PreferredAndDetailTimings",
     [](EdidBuilder& e) {
       e.Set(54, kTiming1080p).Set(108, kTiming1080p);
       e.Set(72, {0x01, 0x00});  // a descriptor with a clock of 10 kHz and no lines
     },
     0,
     "Base block: \r\n  Product name: , Product ID: ABC 1234\r\n  Serial No: 0, 2020 model\r\n"
     "  Preferred timing: 1920x1080@60Hz, Pixel clock: 148.50MHz, H/V Total: 2200/1125\r\n"
     "  Detail timing: 0x0@0Hz, Pixel clock: 10KHz, H/V Total: 0/0\r\n"
     "  Detail timing: 1920x1080@60Hz, Pixel clock: 148500KHz, H/V Total: 2200/1125\r\n"
     "  Supported standard timing list: \r\n    \r\nNo extern block"},
    {"StandardTimingsOfDescriptorsFirst",
     [](EdidBuilder& e) {
       e.Set(38, {0xD1, 0xC0, 0x81, 0x80, 0x01, 0x01, 0x81, 0x00, 0x81, 0x4F});
       e.Set(90, {0, 0, 0, 0xFA, 0, 0xA9, 0x40, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0x0A});
     },
     0,
     "Base block: \r\n  Product name: , Product ID: ABC 1234\r\n  Serial No: 0, 2020 model\r\n"
     "  Preferred timing: 0x0@0Hz, Pixel clock: 0.00MHz, H/V Total: 0/0\r\n"
     "  Supported standard timing list: \r\n"
     "    1600x1200@60Hz, 1920x1080@60Hz, 1280x1024@60Hz, 1280x800@60Hz, \r\n"
     "  1280x960@75Hz, \r\nNo extern block"},
};

// A CTA-861 block at 128 with the given bytes from offset 2 (d, features,
// then data blocks).
std::function<void(EdidBuilder&)> Cta(std::initializer_list<uint8_t> fromOffset2) {
  return [bytes = std::vector<uint8_t>(fromOffset2)](EdidBuilder& e) {
    e.Set(128, {0x02, 0x03}).Set(130, bytes);
  };
}

const std::vector<DecodeCase> kExtensionCases = {
    {"CtaWithoutDataBlocksStartsTimingsAtFour",
     [](EdidBuilder& e) { e.Set(128, {0x02, 0x03, 0x04, 0xF0}).Set(132, kTiming1080p); }, 1,
     kBaseText +
         "\r\nCEA externsion block\r\n"
         "  Support feature: under scan, audio, YCbCr 4:4:4, YCbCr 4:2:2, \r\n"
         "  Detail timing: 1920x1080@60Hz, Pixel clock: 148.50MHz, H/V Total: 2200_1125\r\n"},
    {"CtaTimingListEndsAtZeroActive",
     [](EdidBuilder& e) {
       e.Set(128, {0x02, 0x03, 0x04, 0x00}).Set(132, kTiming1080p);
       e.Set(150, {0x01, 0x1D, 0x00, 0x72, 0x01, 0x00, 0x1E, 0x20}).Set(168, kTiming1080p);
     },
     1, kBaseText + "\r\nCEA externsion block\r\n  Support feature: \r\n"
         "  Detail timing: 1920x1080@60Hz, Pixel clock: 148.50MHz, H/V Total: 2200_1125\r\n"},
    {"CtaOffsetPastLastByteHidesBlock", Cta({127, 0xF0}), 1, kBaseText},
    // d = 0 declares neither data blocks nor descriptors: the list read from
    // offset 0 ends at once, as the horizontal active value there is 0.
    {"CtaOffsetZeroShowsNoTimings", Cta({0, 0x80}), 1,
     kBaseText + "\r\nCEA externsion block\r\n  Support feature: under scan, \r\n"},
    {"VideoDescriptors", Cta({13, 0x00, 0x48, 0x90, 0x80, 0xF0, 0x01, 0xC1, 0xDB, 0xDC, 0x04}), 1,
     kBaseText + "\r\nCEA externsion block\r\n  Support feature: \r\n"
         "  Support 8 video formats: 1920x1080p@60Hz, \r\n"
         "  640x480p@60Hz, 5120x2160p@120Hz, 4096x2160p@120Hz, \r\n"
         "  1280x720p@60Hz, \r\n"},
    {"EmptyVideoBlockEndsNoLine", Cta({6, 0x00, 0x40, 0x40}), 1,
     kBaseText + "\r\nCEA externsion block\r\n  Support feature: \r\n"
         "  Support 0 video formats:   Support 0 video formats: "},
    {"AudioAndSpeakers", Cta({13, 0x40, 0x23, 0x09, 0x7F, 0x07, 0x83, 0x4F, 0x00, 0x00}), 1,
     kBaseText + "\r\nCEA externsion block\r\n  Support feature: audio, \r\n"
         "  Support up to 2 channel Linear PCM audio\r\n"
         "  Support audio frequency(Hz): 32K, 44.1K, 48K, \r\n"
         "  88.2K, 96K, 176.4K, 192K, \r\n"
         "  \r\n  Speaker Allocation: FL/FR, LFE, FC, RL/RR, RLC/RRC, \r\n"},
    {"AudioRatesOfSecondRowOnly", Cta({8, 0x00, 0x23, 0x75, 0x10, 0x00}), 1,
     kBaseText + "\r\nCEA externsion block\r\n  Support feature: \r\n"
         "  Support up to 6 channel WMA Pro audio\r\n"
         "  Support audio frequency(Hz): \r\n  96K, \r\n  "},
    {"HdmiForumBlockOfLengthSeven",
     Cta({15, 0x00, 0x67, 0xD8, 0x5D, 0xC4, 0x01, 0x78, 0xFF, 0x37, 0x01, 0xFF}), 1,
     kBaseText + "\r\nCEA externsion block\r\n  Support feature: \r\n"
         "  HF-VSDB: Max_TMDS_Character_Rate 600MHz, 3D_OSD_Disparity, Dual_View, \r\n"
         "  Independent_view, LTE_340Mcsc_scramble, CCBPCI, RR_Capable, \r\n"
         "  SCDC_Present, DC_30bit_420, DC_36bit_420, DC_48bit_420, \r\n"
         "  \r\n  FRL@ 3/6 Gbps 3 lanes, 6 Gbps 4 lanes. "},
    {"HdmiForumBlockInFullWithCodesWithoutText",
     Cta({18, 0x00, 0x6D, 0xD8, 0x5D, 0xC4, 0x01, 0x00, 0x00, 0x70, 0x3F, 0x49, 0x2C, 0xCF, 0x78,
          0xFF}),
     1,
     kBaseText + "\r\nCEA externsion block\r\n  Support feature: \r\n"
         "  HF-VSDB: Max_TMDS_Character_Rate 0MHz, \r\n"
         "  FAPA_start_location, ALLM, FVA, CNMVRR, CinemaCRR, Mdelta, "
         "VRR_min:  9, VRR_max: 300, \r\n"
         "  DSC: DSC_10bpc, DSC_12bpc, DSC_16bpc, DSC_ALL_bpp, DSC_Native_420, DSC_1p2, \r\n"
         "  DSC_MAX_Slice: , DSC_Max_FRL_Rate: , total chuck byte: 64K "},
    {"OtherVendorBlocksPrintNothing",
     Cta({20, 0x00, 0x67, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 0x00, 0x67, 0xD8, 0x5D, 0xC4, 0x02,
          0x78, 0xFF, 0x37}),
     1, kBaseText + "\r\nCEA externsion block\r\n  Support feature: \r\n"},
    {"Ycbcr420VideoAndCapabilityMap",
     Cta({14, 0x00, 0x42, 0x90, 0x61, 0xE3, 0x0E, 0x76, 0x80, 0xE2, 0x0F, 0x07}), 1,
     kBaseText + "\r\nCEA externsion block\r\n  Support feature: \r\n"
         "  Support 2 video formats: 1920x1080p@60Hz, 3840x2160p@60Hz, \r\n"
         "  Only support YCbCr 4:2:0 video formats: 3840x2160p@120Hz, \r\n"
         "  Support YCbCr 4:2:0 video formats: 1920x1080p@60Hz, 3840x2160p@60Hz, \r\n"
         "  Undefined, \r\n"},
    {"CapabilityMapBitsPastTheListAreIgnored",
     Cta({12, 0x00, 0xE6, 0x0F, 0x00, 0x00, 0x00, 0x80, 0xFF}), 1,
     kBaseText + "\r\nCEA externsion block\r\n  Support feature: \r\n"
         "  Support YCbCr 4:2:0 video formats: Undefined, \r\n"},
    {"DisplayIdTypeOneTiming",
     [](EdidBuilder& e) {
       e.Set(128, {0x70, 0x12, 23, 0x00, 0x00, 0x03, 0x00, 20, 0x08, 0xE8, 0x00, 0x00, 0xFF, 0x0E,
                   0x2F, 0x02, 0, 0, 0, 0, 0x6F, 0x08, 0x59, 0x00});
       e.Set(156, {0xC2});  // section checksum: bytes 1 to 28 sum to 0
     },
     1, kBaseText + "\r\nDID externsion block\r\n"
         "  Detail timing: 3840x2160@60Hz, Pixel clock: 594.00KHz, HTotal_VTotal: 4400_2250\r\n"},
    {"DisplayIdSectionChecksumErrorGoesOnToNextBlock",
     [](EdidBuilder& e) {
       e.Set(128, {0x70, 0x12, 23, 0x00, 0x00, 0x03, 0x00, 20, 0x08, 0xE8, 0x00, 0x00, 0xFF, 0x0E,
                   0x2F, 0x02, 0, 0, 0, 0, 0x6F, 0x08, 0x59, 0x00});
       e.Set(156, {0xC3});
       e.Set(256, {0x10, 0x01, 0x00});
     },
     2, kBaseText + "\r\nDID externsion block\r\n\r\nDID section checksum error\r\n"
         "\r\nVTB externsion block\r\n"},
    {"DisplayIdWithoutTypeOneTimings",
     [](EdidBuilder& e) { e.Set(128, {0x70, 0x12, 23, 0x00, 0x00, 0x22, 0x00, 20}); }, 1,
     kBaseText + "\r\nDID externsion block\r\n"},
    {"DisplayIdSectionLongerThanItsBlock",
     [](EdidBuilder& e) { e.Set(128, {0x70, 0x12, 200, 0x00, 0x00, 0x03, 0x00, 20}); }, 1,
     kBaseText + "\r\nDID externsion block\r\n\r\nDID section checksum error\r\n"},
    {"VideoTimingBlock",
     [](EdidBuilder& e) { e.Set(128, {0x10, 0x01, 0x02, 0x00, 0x00}).Set(133, kTiming1080p); }, 1,
     kBaseText + "\r\nVTB externsion block\r\n"
         "  Detail timing: 1920x1080@60Hz, Pixel clock: 148500KHz, HTotal_VTotal: 2200_1125\r\n"
         "  Detail timing: 0x0@0Hz, Pixel clock: 0KHz, HTotal_VTotal: 0_0\r\n"},
    {"UnknownTagPrintsNothing", [](EdidBuilder& e) { e.Set(128, {0xF0, 0x01}); }, 1, kBaseText},
    {"ExtensionChecksumErrorEndsDecoding",
     [](EdidBuilder& e) {
       e.Set(128, {0x10, 0x01, 0x00}).Set(256, {0x10, 0x01, 0x00}).Set(383, {0x00});
       e.Set(384, {0x10, 0x01, 0x00}).KeepChecksum(2);
     },
     3, kBaseText + "\r\nVTB externsion block\r\n\r\nExtern block checksum error: ef\r\n"},
};

class DecodeEdidTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeEdidTest, GivesWholeText) {
  const DecodeCase& c = GetParam();
  EdidBuilder builder(c.extensions);
  c.build(builder);
  EXPECT_EQ(Decode(builder.Bytes()), c.expected);
}

std::string CaseName(const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(BaseBlock, DecodeEdidTest, testing::ValuesIn(kBaseCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Extensions, DecodeEdidTest, testing::ValuesIn(kExtensionCases), CaseName);

TEST(DecodeEdid, RefusesLessThanABaseBlock) {
  const std::vector<uint8_t> edid = EdidBuilder().Bytes();
  std::string text = "kept";
  EXPECT_EQ(DecodeEdid(edid.data(), 127, text), -1);
  EXPECT_EQ(text, "kept");
}

// A data block whose length runs past the block: the descriptors inside are
// shown, the rest ignored. The block's checksum byte (0x04) is the last one
// inside, and the buffer ends right after it.
TEST(DecodeEdid, DataBlockRunningPastItsBlockIsCut) {
  EdidBuilder builder(1);
  builder.Set(128, {0x02, 0x03, 126, 0x00, 0x1F}).Set(164, {0x1F}).Set(196, {0x1F});
  builder.Set(228, {0x17}).Set(252, {0x5F, 0x90, 0x80});
  std::vector<uint8_t> edid = builder.Bytes();
  edid[133] = static_cast<uint8_t>(edid[255] - 0x04);  // make the checksum byte 0x04
  edid[255] = 0x04;
  ASSERT_EQ(edid.size(), 256u);
  EXPECT_EQ(Decode(edid), kBaseText +
                              "\r\nCEA externsion block\r\n  Support feature: \r\n"
                              "  Support 31 video formats: 1920x1080p@60Hz, 1280x720p@60Hz, \r\n"
                              "  \r\n");
}

// Only 31 VICs are kept for the capability map, however many are listed.
TEST(DecodeEdid, VicListHoldsThirtyOne) {
  EdidBuilder builder(1);
  builder.Set(128, {0x02, 0x03, 45, 0x00, 0x40 | 31});
  for (size_t i = 0; i < 31; ++i) builder.Set(133 + i, {static_cast<uint8_t>(i < 30 ? 1 : 16)});
  builder.Set(164, {0x40 | 2, 4, 4, 0xE5, 0x0F, 0x00, 0x00, 0x00, 0xC0});
  auto repeat = [](const std::string& item, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += item;
    return out;
  };
  const std::string vic1 = "640x480p@60Hz, ";
  std::string longList = "  Support 31 video formats: " + repeat(vic1, 3) + "\r\n  ";
  for (int line = 0; line < 6; ++line) longList += repeat(vic1, 4) + "\r\n  ";
  longList += repeat(vic1, 3) + "1920x1080p@60Hz, \r\n  \r\n";
  // Map positions 30 (VIC 16, the 31st recorded) and 31 (never filled).
  EXPECT_EQ(Decode(builder.Bytes()),
            kBaseText + "\r\nCEA externsion block\r\n  Support feature: \r\n" + longList +
                "  Support 2 video formats: 1280x720p@60Hz, 1280x720p@60Hz, \r\n"
                "  Support YCbCr 4:2:0 video formats: 1920x1080p@60Hz, Undefined, \r\n  \r\n");
}

}  // namespace
}  // namespace ktq::test

// Whole EDIDs: a crafted one that looks like a real television's, with its
// full decoded text, and the real-world corpus (the folder KTQ_EDID_CORPUS
// names, when it exists) as a sweep that must decode every file, and every
// truncation of it, without reading outside its bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics/edid_decoder.h"
#include "hex_file.h"

namespace ktq::test {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadBinaryFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(EdidSamples, TelevisionWithEveryDecodedBlock) {
  const std::vector<uint8_t> edid = ReadHexFile(KTQ_SOURCE_DIR "/tests/edid/data/tv-4k.hex");
  ASSERT_EQ(edid.size(), kEdidBufferSize);
  std::string text;
  ASSERT_EQ(DecodeEdid(edid.data(), static_cast<uint32_t>(edid.size()), text), 0);
  EXPECT_EQ(text,
            "Base block: \r\n"
            "  Product name: KTQ TV 4K, Product ID: TVS 5A01\r\n"
            "  Serial No: 16909060, Manufacture date: 41th week, 2023\r\n"
            "  HDMI-a interface, support 8 bits color\r\n"
            "  Support range, VSync: 24-120Hz, HSync: 15-135KHz, Pixel clock: <=600MHz\r\n"
            "  Preferred timing: 3840x2160@60Hz, Pixel clock: 594.00MHz, H/V Total: 4400/2250\r\n"
            "  Detail timing: 1920x1080@60Hz, Pixel clock: 148500KHz, H/V Total: 2200/1125\r\n"
            "  Supported standard timing list: \r\n"
            "    1280x1024@60Hz, 1280x720@60Hz, 1280x800@60Hz, 1920x1080@60Hz, \r\n"
            "  1600x900@60Hz, 1152x864@75Hz, "
            "\r\nCEA externsion block\r\n"
            "  Support feature: under scan, audio, YCbCr 4:4:4, YCbCr 4:2:2, \r\n"
            "  Support 10 video formats: 1920x1080p@60Hz, 3840x2160p@60Hz, 3840x2160p@50Hz, \r\n"
            "  3840x2160p@30Hz, 3840x2160p@25Hz, 3840x2160p@24Hz, 1280x720p@60Hz, \r\n"
            "  1280x720p@50Hz, 1920x1080p@50Hz, 3840x2160p@120Hz, \r\n"
            "  Support up to 2 channel Linear PCM audio\r\n"
            "  Support audio frequency(Hz): 32K, 44.1K, 48K, \r\n"
            "  88.2K, 96K, 176.4K, 192K, \r\n"
            "  \r\n"
            "  Speaker Allocation: FL/FR, LFE, FC, RL/RR, \r\n"
            "  HF-VSDB: Max_TMDS_Character_Rate 600MHz, 3D_OSD_Disparity, Dual_View, \r\n"
            "  LTE_340Mcsc_scramble, SCDC_Present, DC_30bit_420, DC_36bit_420, \r\n"
            "  \r\n"
            "  FRL@ 3/6 Gbps 3 lanes, 6/8/10 Gbps 4 lanes. ALLM, VRR_min: 48, VRR_max: 120, \r\n"
            "  DSC: DSC_10bpc, DSC_12bpc, DSC_ALL_bpp, DSC_1p2, \r\n"
            "  DSC_MAX_Slice: 8(400Mhz), DSC_Max_FRL_Rate: 6 Gps(4Ln), total chuck byte: 16K "
            "  Only support YCbCr 4:2:0 video formats: 3840x2160p@60Hz, 3840x2160p@50Hz, \r\n"
            "  \r\n"
            "  Support YCbCr 4:2:0 video formats: 3840x2160p@120Hz, \r\n"
            "  Detail timing: 1920x1080@60Hz, Pixel clock: 148.50MHz, H/V Total: 2200_1125\r\n"
            "  Detail timing: 1280x720@60Hz, Pixel clock: 74.25MHz, H/V Total: 1650_750\r\n"
            "\r\nDID externsion block\r\n"
            "  Detail timing: 3840x2160@120Hz, Pixel clock: 1188.00KHz, HTotal_VTotal: 4400_2250\r\n"
            "  Detail timing: 2560x1440@144Hz, Pixel clock: 586.34KHz, HTotal_VTotal: 2720_1497\r\n"
            "\r\nVTB externsion block\r\n"
            "  Detail timing: 1680x1050@60Hz, Pixel clock: 119000KHz, HTotal_VTotal: 1840_1080\r\n");
}

std::vector<fs::path> CorpusFiles(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.is_regular_file() && entry.path().extension() == ".bin") files.push_back(entry.path());
  }
  return files;
}

// Decodes `size` bytes from an exact-size heap copy, so that the sanitizer
// sees any read past them.
std::string TextOfExactCopy(const std::vector<uint8_t>& bytes, size_t size) {
  auto copy = std::make_unique<uint8_t[]>(size);
  std::copy_n(bytes.begin(), size, copy.get());
  std::string decoded;
  DecodeEdid(copy.get(), static_cast<uint32_t>(size), decoded);
  return EdidTextFromBytes(std::span<const uint8_t>(copy.get(), size));
}

TEST(EdidCorpus, EveryFileAndTruncationDecodesWithinItsBytes) {
  const fs::path dir = KTQ_EDID_CORPUS;
  if (!fs::is_directory(dir))
    GTEST_SKIP() << "no EDID corpus at " << dir.string() << " (set the CMake variable KTQ_EDID_CORPUS)";
  const std::vector<fs::path> files = CorpusFiles(dir);
  ASSERT_FALSE(files.empty()) << "no .bin files in the EDID corpus " << dir.string();
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const std::vector<uint8_t> bytes = ReadBinaryFile(file);
    ASSERT_GE(bytes.size(), kEdidBlockSize);
    for (size_t size = kEdidBlockSize; size <= bytes.size(); size += kEdidBlockSize / 4) {
      TextOfExactCopy(bytes, size);
    }
    const std::string text = TextOfExactCopy(bytes, bytes.size());
    const size_t listedBlocks = 1 + EdidExtensionsHandled(bytes.data(), bytes.size());
    // 16 bytes of 3 characters and a line end per listing line.
    ASSERT_GE(text.size(), listedBlocks * 8 * 50);
    const std::string summary = text.substr(listedBlocks * 8 * 50);
    const std::string name = file.filename().string();
    if (name.find("-corrupt-base") != std::string::npos) {
      EXPECT_EQ(summary.rfind("Checksum error: ", 0), 0u) << summary;
    } else {
      EXPECT_EQ(summary.rfind("Base block: \r\n", 0), 0u) << summary;
    }
    if (name.find("-corrupt-ext") != std::string::npos) {
      EXPECT_NE(summary.find("\r\nExtern block checksum error: "), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace ktq::test

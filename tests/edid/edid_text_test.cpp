// The EDID text made of the bytes read: hex listing of the blocks handled,
// then the base-block checksum verdict or the decoded summary.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/edid_decoder.h"
#include "edid_builder.h"

namespace ktq::test {
namespace {

const std::string kBaseListing =
    "00 ff ff ff ff ff ff 00 04 43 34 12 00 00 00 00 \r\n"
    "00 1e 01 03 00 00 00 00 00 00 00 00 00 00 00 00 \r\n"
    "00 00 00 00 00 00 01 01 01 01 01 01 01 01 01 01 \r\n"
    "01 01 01 01 01 01 00 00 00 00 00 00 00 00 00 00 \r\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \r\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \r\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \r\n"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 47 \r\n";

const std::string kBaseSummary =
    "Base block: \r\n"
    "  Product name: , Product ID: ABC 1234\r\n"
    "  Serial No: 0, 2020 model\r\n"
    "  Preferred timing: 0x0@0Hz, Pixel clock: 0.00MHz, H/V Total: 0/0\r\n"
    "  Supported standard timing list: \r\n    ";

// Eight lines of an extension block that holds only its tag at byte 0.
std::string TagOnlyBlockListing(const std::string& tag, const std::string& checksum) {
  std::string out;
  for (int i = 0; i < 128; ++i) {
    out += (i == 0 ? tag : i == 127 ? checksum : "00") + " ";
    if (i % 16 == 15) out += "\r\n";
  }
  return out;
}

TEST(EdidText, BaseBlockAlone) {
  EXPECT_EQ(EdidTextFromBytes(EdidBuilder().Bytes()),
            kBaseListing + kBaseSummary + "\r\nNo extern block");
}

TEST(EdidText, ZeroPaddedBufferListsOnlyTheBaseBlock) {
  std::vector<uint8_t> buffer = EdidBuilder().Bytes();
  buffer.resize(kEdidBufferSize);
  EXPECT_EQ(EdidTextFromBytes(buffer), kBaseListing + kBaseSummary + "\r\nNo extern block");
}

TEST(EdidText, BaseChecksumErrorStopsAfterListing) {
  const std::vector<uint8_t> edid = EdidBuilder().Set(127, {0x00}).KeepChecksum(0).Bytes();
  std::string listing = kBaseListing;
  listing.replace(listing.size() - 5, 2, "00");
  EXPECT_EQ(EdidTextFromBytes(edid), listing + "Checksum error: b9\r\n");
}

// Five blocks announced, four in the buffer: three extensions are listed and
// decoded, nothing is said of the other two.
TEST(EdidText, AtMostThreeExtensionsAreHandled) {
  EdidBuilder builder(4);
  builder.Set(126, {5}).Set(128, {0xF0}).Set(256, {0xF1}).Set(384, {0x10});
  std::vector<uint8_t> edid = builder.Bytes();
  edid.resize(5 * 128, 0xEE);  // a fifth block the reader would never read
  std::string listing = kBaseListing;
  listing.replace(listing.size() - 8, 5, "05 42");
  EXPECT_EQ(EdidTextFromBytes(edid), listing + TagOnlyBlockListing("f0", "10") +
                                         TagOnlyBlockListing("f1", "0f") +
                                         TagOnlyBlockListing("10", "f0") + kBaseSummary +
                                         "\r\nVTB externsion block\r\n");
}

// A buffer shorter than the blocks announced lists and decodes what it holds.
TEST(EdidText, ShortBufferHandlesTheBlocksItHolds) {
  const std::vector<uint8_t> edid = EdidBuilder(1).Set(126, {3}).Set(128, {0x10}).Bytes();
  std::string listing = kBaseListing;
  listing.replace(listing.size() - 8, 5, "03 44");
  EXPECT_EQ(EdidTextFromBytes(edid), listing + TagOnlyBlockListing("10", "f0") + kBaseSummary +
                                         "\r\nVTB externsion block\r\n");
}

TEST(EdidText, LessThanABaseBlockGivesNoText) {
  std::vector<uint8_t> edid = EdidBuilder().Bytes();
  edid.pop_back();
  EXPECT_EQ(EdidTextFromBytes(edid), "");
  EXPECT_EQ(EdidTextFromBytes({}), "");
}

}  // namespace
}  // namespace ktq::test

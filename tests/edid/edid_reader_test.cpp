// ReadEdidText and TxHpdState over the virtual converter: what is read, in
// which requests, and the text made of it.
#include "diagnostics/edid_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "chipdb/chip_id.h"
#include "device/rc_command.h"
#include "diagnostics/edid_decoder.h"
#include "diagnostics/tx_hpd_state.h"
#include "sim/register_map_model.h"
#include "sim/scenario.h"
#include "tests/edid/crafted_edid.h"
#include "tests/support/sim_fixture.h"

namespace ktq::testing {
namespace {

using test::CraftedEdid;
using test::CraftedEdidFile;

const std::string kThreeExtensions = "tv-4k";  // CTA, DisplayID, video timing block
const std::string kOneExtension = "monitor-dp";
const std::string kFiveExtensions = "six-blocks";

// The text of a device whose EDID holds `bytes`: what the reader's
// zero-filled 512-byte buffer gives.
std::string TextOf(std::vector<uint8_t> bytes) {
  bytes.resize(kEdidBufferSize, 0);
  return EdidTextFromBytes(bytes);
}

std::vector<sim::Report> EdidReads(uint8_t command, uint32_t firstOffset, size_t blocks) {
  std::vector<sim::Report> out;
  for (uint32_t offset = firstOffset; offset < firstOffset + 128 * blocks; offset += 32)
    out.push_back(MakeRequest(command, offset, 32, {}));
  return out;
}

std::vector<sim::Report> Concat(std::vector<sim::Report> a, const std::vector<sim::Report>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class EdidReaderTest : public SimFixture {
 protected:
  // A converter with a chip of `chipType` and the given "edid" section (and
  // more device keys), opened and identified; the log starts after that.
  sim::VirtualConverter& Load(int chipType, const std::string& edid, const std::string& more = "") {
    const std::string text = "{\"devices\": [{\"chip\": {\"type\": " + std::to_string(chipType) +
                             "}, \"edid\": " + edid + more + "}]}";
    std::string error;
    EXPECT_TRUE(sim::LoadScenarioText(text, host, error)) << error;
    sim::VirtualConverter& c = host.Converter(0);
    EXPECT_EQ(RCEnumAndOpenDevice(), 0);
    RCIdentifyChip();
    EXPECT_EQ(CurrentChipType(), static_cast<uint32_t>(chipType));
    c.SetTransferLog(true);
    return c;
  }

  sim::Report GpioRead(sim::VirtualConverter& c) {
    const auto address = sim::PlacedRegisterAddress(c, "CORE_GPIO_RX");
    EXPECT_TRUE(address.has_value());
    return MakeRequest(UPDC_READ_FROM_MEMORY, address.value_or(0), 4, {});
  }

  // The "edid" section with `name`'s crafted EDID as the input.
  static std::string Input(const std::string& name) { return "{\"input\": \"" + CraftedEdidFile(name) + "\"}"; }

  // An output with `name`'s crafted EDID (none for "").
  static std::string Output(const std::string& name, const char* hotPlug = nullptr) {
    std::string out = "{";
    if (!name.empty()) out += "\"file\": \"" + CraftedEdidFile(name) + "\"";
    if (hotPlug) out += std::string(name.empty() ? "" : ", ") + "\"hot_plug\": " + hotPlug;
    return out + "}";
  }
};

TEST_F(EdidReaderTest, InputIsReadAsBaseThenAnnouncedBlocks) {
  sim::VirtualConverter& c = Load(6, Input(kThreeExtensions));
  std::string text = "stale";
  ReadEdidText(0, text);
  EXPECT_EQ(text, TextOf(CraftedEdid(kThreeExtensions)));
  EXPECT_EQ(Requests(c), EdidReads(UPDC_READ_EDID, 0, 4));
  EXPECT_TRUE(c.ProtocolErrors().empty());
}

TEST_F(EdidReaderTest, OnlyThreeOfFiveExtensionsAreRead) {
  sim::VirtualConverter& c = Load(6, Input(kFiveExtensions));
  std::string text;
  ReadEdidText(0, text);
  std::vector<uint8_t> firstFour = CraftedEdid(kFiveExtensions);
  ASSERT_EQ(firstFour.size(), 6 * kEdidBlockSize);
  firstFour.resize(kEdidBufferSize);
  EXPECT_EQ(text, TextOf(firstFour));
  EXPECT_EQ(Requests(c), EdidReads(UPDC_READ_EDID, 0, 4));
}

TEST_F(EdidReaderTest, OutputWithHotPlugHighIsRead) {
  sim::VirtualConverter& c =
      Load(6, "{\"outputs\": [" + Output("", "false") + ", " + Output(kOneExtension) + "]}");
  std::string text;
  ReadEdidText(2, text);
  EXPECT_EQ(text, TextOf(CraftedEdid(kOneExtension)));
  EXPECT_EQ(Requests(c), Concat({GpioRead(c)}, EdidReads(UPDC_READ_EDID + 2, 0, 2)));
}

TEST_F(EdidReaderTest, OutputWithHotPlugLowIsNotRead) {
  sim::VirtualConverter& c = Load(6, "{\"outputs\": [" + Output(kOneExtension, "false") + "]}");
  std::string text = "stale";
  ReadEdidText(1, text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(Requests(c), std::vector<sim::Report>{GpioRead(c)});
}

// A failed extension read counts as a block of zeros, even when some of its
// chunks arrived; the blocks after it are still read.
TEST_F(EdidReaderTest, FailedExtensionReadLeavesTheBlockZero) {
  Load(6, Input(kThreeExtensions),
       ", \"faults\": [{\"kind\": \"status\", \"command\": \"0x50\", \"address\": 160, \"status\": 5}]");
  std::string text;
  ReadEdidText(0, text);
  std::vector<uint8_t> expected = CraftedEdid(kThreeExtensions);
  ASSERT_EQ(expected.size(), kEdidBufferSize);
  std::fill_n(expected.begin() + 128, 128, 0);
  EXPECT_EQ(text, TextOf(expected));
}

TEST_F(EdidReaderTest, FailedBaseReadGivesNoText) {
  sim::VirtualConverter& c = Load(6, Input(kThreeExtensions),
                                  ", \"faults\": [{\"kind\": \"status\", \"command\": \"0x50\", \"address\": 96, "
                                  "\"status\": 5}]");
  std::string text = "stale";
  ReadEdidText(0, text);
  EXPECT_EQ(text, "");
  EXPECT_EQ(Requests(c), EdidReads(UPDC_READ_EDID, 0, 1));
}

TEST_F(EdidReaderTest, HotPlugLinesOfTypeSix) {
  Load(6, "{\"outputs\": [" + Output(kOneExtension) + ", " + Output(kOneExtension, "false") + ", " +
              Output("", "true") + ", " + Output(kOneExtension, "false") + "]}");
  EXPECT_EQ(TxHpdState(0), 1);
  EXPECT_EQ(TxHpdState(1), 0);
  EXPECT_EQ(TxHpdState(2), 1);
  EXPECT_EQ(TxHpdState(3), 0);
  EXPECT_EQ(TxHpdState(7), 1);  // ports past the fourth read port 0's line
}

// Type 5 has a line for port 0 and one that ports 1 and 2 share: with only
// port 2's display plugged in, port 1 reads as plugged too but has no EDID.
TEST_F(EdidReaderTest, HotPlugLinesOfTypeFive) {
  Load(5, "{\"outputs\": [" + Output(kOneExtension, "false") + ", " + Output("", "false") + ", " +
              Output(kOneExtension) + "]}");
  EXPECT_EQ(TxHpdState(0), 0);
  EXPECT_EQ(TxHpdState(1), 1);
  EXPECT_EQ(TxHpdState(2), 1);
  std::string text;
  ReadEdidText(3, text);
  EXPECT_EQ(text, TextOf(CraftedEdid(kOneExtension)));
  ReadEdidText(2, text);
  EXPECT_EQ(text, "");
  ReadEdidText(1, text);
  EXPECT_EQ(text, "");
}

TEST_F(EdidReaderTest, OtherChipTypesHaveNoHotPlugAndSendNothing) {
  sim::VirtualConverter& c = Load(4, "{\"outputs\": [" + Output(kOneExtension) + "]}");
  EXPECT_EQ(TxHpdState(0), 0);
  std::string text = "stale";
  ReadEdidText(1, text);
  EXPECT_EQ(text, "");
  EXPECT_TRUE(Requests(c).empty());
}

}  // namespace
}  // namespace ktq::testing

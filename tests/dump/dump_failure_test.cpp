// The dump when reads fail: what it says and where it goes on, each case
// compared whole with the golden dump of the same converter without the
// fault, edited as the fault must change it.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "chipdb/register_db.h"
#include "device/rc_command.h"
#include "diagnostics/dump.h"
#include "report/format.h"
#include "tests/dump/dump_fixture.h"
#include "tests/support/ktq_run.h"

namespace ktq::testing {
namespace {

class DumpFailure : public DumpFixture {
 protected:
  sim::VirtualConverter& Load(const std::string& scenario) {
    return LoadFile(std::string(KTQ_SOURCE_DIR "/sim/scenarios/") + scenario + ".json");
  }
  static std::string Golden(const std::string& scenario) {
    return SlurpFile(std::string(KTQ_SOURCE_DIR "/tests/data/dump/") + scenario + ".txt");
  }
  std::string Dump(sim::VirtualConverter& c) {
    c.SetTransferLog(true);
    const std::string out = TestPath("dump.txt");
    EXPECT_EQ(RCDumpAll(out.c_str(), "9.8.7"), 0);
    EXPECT_EQ(Reports::Messages(), "Dump register/memory...finished.\r\n");
    return Masked(SlurpFile(out));
  }
  static size_t ReadsAt(const sim::VirtualConverter& c, uint8_t command, uint32_t address) {
    size_t n = 0;
    for (const sim::Report& r : Requests(c))
      n += r[5] == (command | 0x80) && (r[7] | r[8] << 8 | r[9] << 16 | static_cast<uint32_t>(r[10]) << 24) == address;
    return n;
  }
  // `text` with [from, to) replaced by `with`; both markers must be there.
  static std::string Splice(std::string text, size_t from, size_t to, const std::string& with) {
    EXPECT_NE(from, std::string::npos);
    EXPECT_NE(to, std::string::npos);
    if (from == std::string::npos || to == std::string::npos || to < from) return "";
    return text.replace(from, to - from, with);
  }
};

TEST_F(DumpFailure, AFailedRunEndsTheRegisterListAndTheRestFollows) {
  sim::VirtualConverter& c = Load("no-display");
  const uint32_t second = [] {
    // The second run's first register: the first entry not at +4 from its
    // predecessor.
    const auto& list = RegisterList();
    for (size_t k = 1; k < list.size(); ++k)
      if (list[k].address != list[k - 1].address + 4) return list[k].address;
    return 0u;
  }();
  c.AddFault(sim::Fault::Status(0x05).OnCommand(UPDC_READ_FROM_MEMORY).AtAddress(second));
  const std::string text = Dump(c);

  std::string expected = Golden("no-display");
  const std::string walkStart = "Register data dump...\r\n";
  const size_t from = expected.find(FormatString("%06Xh: ", second), expected.find(walkStart));
  std::smatch m;
  const std::string afterWalk = expected.substr(from);
  // The interrupt-status section starts with its first block's first line.
  ASSERT_TRUE(std::regex_search(afterWalk, m, std::regex("\r\n[0-9a-f]{6,8}h: [0-9a-f]{8}")));
  expected = Splice(expected, from, from + m.position(0),
                    FormatString("read out the register (%06Xh) failed\r\n", second));
  EXPECT_EQ(text, expected);
}

TEST_F(DumpFailure, AMemoryRowThatFailsOnceIsReadAgain) {
  sim::VirtualConverter& c = Load("no-display");
  c.AddFault(sim::Fault::Status(0x05).OnCommand(UPDC_READ_FROM_MEMORY).AtAddress(0x90000040));
  EXPECT_EQ(Dump(c), Golden("no-display"));
  EXPECT_EQ(ReadsAt(c, UPDC_READ_FROM_MEMORY, 0x90000040), 2u);
}

TEST_F(DumpFailure, AMemoryRowThatFailsTwiceEndsTheMemoryDump) {
  sim::VirtualConverter& c = Load("no-display");
  c.AddFault(sim::Fault::Status(0x05).OnCommand(UPDC_READ_FROM_MEMORY).AtAddress(0x90000040).Always());
  const std::string text = Dump(c);
  std::string expected = Golden("no-display");
  expected = Splice(expected, expected.find("90000040h:"), expected.find("Memory data dump finished"),
                    "read out the memory data failed at the address: 90000040h, dump is abort\r\n");
  EXPECT_EQ(text, expected);
  EXPECT_EQ(ReadsAt(c, UPDC_READ_FROM_MEMORY, 0x90000040), 2u);
  EXPECT_EQ(ReadsAt(c, UPDC_READ_FROM_MEMORY, 0x90000080), 0u);
}

TEST_F(DumpFailure, AFailedDpcdRangeSkipsTheRestOfThatPort) {
  sim::VirtualConverter& c = Load("dock-type6-dsc-frl");
  c.AddFault(sim::Fault::Status(0x05).OnCommand(UPDC_READ_DPCD).AtAddress(0x100));
  const std::string text = Dump(c);
  std::string expected = Golden("dock-type6-dsc-frl");
  expected = Splice(expected, expected.find("00000100h:"), expected.find("\r\n\r\nTambo EDID:"), "");
  EXPECT_EQ(text, expected);
  EXPECT_EQ(ReadsAt(c, UPDC_READ_DPCD, 0x120), 0u);
}

TEST_F(DumpFailure, NoConverterOpenAndAnUnwritableFile) {
  EXPECT_EQ(RCDumpAll(TestPath("dump.txt").c_str(), "1"), -1);
  EXPECT_EQ(Reports::Messages(), "");
  Load("no-display");
  EXPECT_EQ(RCDumpAll(TestPath("missing-folder/dump.txt").c_str(), "1"), -1);
  EXPECT_EQ(Reports::Messages(), "Open file FAILED!!\n");
}

}  // namespace
}  // namespace ktq::testing

// Whole dumps of the shipped scenarios against golden files in
// tests/data/dump/. Only the header's time and the host block are masked.
//
// After a deliberate change of the dump or of a scenario, regenerate them
// with
//   KTQ_UPDATE_GOLDEN=1 ctest --test-dir build -R DumpGolden
// and review the difference before committing it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "diagnostics/dump.h"
#include "tests/dump/dump_fixture.h"
#include "tests/support/ktq_run.h"

namespace ktq::testing {
namespace {

struct GoldenCase {
  friend void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.scenario; }
  const char* scenario;
  size_t secondPauses;  // the mandated one-second pauses of this dump
  const char* folder = "/sim/scenarios/";  // below the source tree
};

// Pauses: receiver error counters (when the receiver is locked), the
// interrupt-status section (when its gate allows), and the sink's symbol
// errors of each DisplayPort transmitter.
const GoldenCase kCases[] = {
    {"hdmi-adapter-4k-tv", 2}, {"dock-type6-dsc-frl", 4}, {"no-display", 1},
    {"dropping-link", 3},      {"memory-reads-fail", 1},
    // Pulled out during the register walk: the walk, the memory and the
    // EDIDs say what failed, and the dump still ends.
    {"unplugged-halfway", 0, "/tests/data/dump/"},
};

class DumpGolden : public DumpFixture, public ::testing::WithParamInterface<GoldenCase> {};

TEST_P(DumpGolden, WholeDumpMatches) {
  const std::string name = GetParam().scenario;
  sim::VirtualConverter& c = LoadFile(std::string(KTQ_SOURCE_DIR) + GetParam().folder + name + ".json");
  const std::string out = TestPath("dump.txt");
  ASSERT_EQ(RCDumpAll(out.c_str(), "9.8.7"), 0);
  EXPECT_EQ(Reports::Messages(), "Dump register/memory...finished.\r\n");
  EXPECT_EQ(SecondPauses(), GetParam().secondPauses);
  EXPECT_TRUE(c.ProtocolErrors().empty()) << c.ProtocolErrors().front();

  const std::string text = Masked(SlurpFile(out));
  const std::string golden = KTQ_SOURCE_DIR "/tests/data/dump/" + name + ".txt";
  if (std::getenv("KTQ_UPDATE_GOLDEN")) {
    std::ofstream(golden, std::ios::binary) << text;
    GTEST_SKIP() << "wrote " << golden;
  }
  EXPECT_EQ(text, SlurpFile(golden)) << "regenerate with KTQ_UPDATE_GOLDEN=1 after a deliberate change";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, DumpGolden, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           std::string n = info.param.scenario;
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

}  // namespace
}  // namespace ktq::testing

// ktq --simulate=FILE tells traces from scenarios by content and refuses
// what is neither, a broken trace and a replay speed without a trace.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/ktq_run.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

std::string Zeros(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += " 00";
  return out;
}

TEST(ReplayCliTest, SimulationFilesAreToldApartByContent) {
  const std::string dir = TestDir().string() + "/";
  const struct {
    std::string content;
    std::string options;
    int status;
    std::string err;  // {file} stands for the file's path
  } cases[] = {
      // A trace named like a scenario is still a trace; one that recorded
      // nothing shows no converter.
      {"# a session without a converter\n", "", 3,
       "ktq: no converter found (looked for USB IDs 3A7C:71xx, 3A7C:72xx, 3A7C:73xx).\n"
       "ktq: no HID device is attached at all: check the cable and the hub, then run 'ktq list'.\n"},
      {"", "", 3,
       "ktq: no converter found (looked for USB IDs 3A7C:71xx, 3A7C:72xx, 3A7C:73xx).\n"
       "ktq: no HID device is attached at all: check the cable and the hub, then run 'ktq list'.\n"},
      {"0 OPEN\n5 CLOSE\n", "--replay-speed=1000", 1,
       "ktq: replay: replay stopped at trace line 2: the recording has CLOSE where the host sent an output report\n"
       "  request:  UPDC_READ_FROM_MEMORY (0x31) at 0x20200D30, 4 bytes\n"
       "  received: 01 00 0C 00 00 B1 00 30 0D 20 20 04 00 00 00 C2" + Zeros(46) + "\n"
       "RCGetCommand : Usb2 set output report failed:\rRCGetCommand : Usb2 set output report failed:\r"
       "ktq: reading the chip's date code failed (result 0xFFFFFFFF)\n"
       "ktq: replay: recorded traffic left unused: 1 line (line 2)\n"},
      {"0 OPEN\n5 SEND 01\n", "", 4, "ktq: trace: {file}: line 2: expected OPEN, CLOSE, OUT, IN, OUT-FAIL, IN-FAIL or "
                                      "REMOVED, found \"SEND\"\n"},
      {"{\"devices\": [{\"colour\": 1}]}", "", 4, "ktq: scenario: {file}: devices[0]: unknown key \"colour\"\n"},
      {"OPEN\nCLOSE\n", "", 4,
       "ktq: scenario: {file}: neither a scenario (a JSON object) nor a wire trace (lines of <microseconds> <WORD> "
       "...)\n"},
      {"{\"devices\": [{}]}", "--replay-speed=2", 4,
       "ktq: --replay-speed needs --simulate=TRACE and a factor above 0 (1: as recorded)\n"},
      {"0 OPEN\n5 CLOSE\n", "--replay-speed=0", 4,
       "ktq: --replay-speed needs --simulate=TRACE and a factor above 0 (1: as recorded)\n"},
      {"0 OPEN\n5 CLOSE\n", "--replay-speed=fast", 4,
       "ktq: --replay-speed needs --simulate=TRACE and a factor above 0 (1: as recorded)\n"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    const std::string file = dir + "sim" + std::to_string(n++) + ".json";
    std::ofstream(file) << c.content;
    const KtqRun run = RunKtq("--simulate=" + file + " " + c.options + " info", dir);
    EXPECT_EQ(run.status, c.status);
    std::string err = c.err;
    if (const size_t at = err.find("{file}"); at != std::string::npos) err.replace(at, 6, file);
    EXPECT_EQ(run.err, err);
  }
}

}  // namespace
}  // namespace ktq::testing

// Scenario files: the schema, its errors, the shipped examples.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "device/hid_session.h"
#include "device/rc_command.h"
#include "device/rc_timing.h"
#include "sim/model_clock.h"
#include "sim/scenario.h"
#include "tests/support/test_dir.h"

namespace ktq::sim {
namespace {

TEST(ScenarioTest, DefaultScenarioHoldsATypeFiveChip) {
  VirtualHost host;
  std::string error;
  ASSERT_TRUE(LoadScenarioText(DefaultScenarioText(), host, error)) << error;
  ASSERT_EQ(host.ConverterCount(), 1u);
  VirtualConverter& c = host.Converter(0);
  EXPECT_EQ(c.Memory().ReadU32(0x20200D30), 0x20201105u);
  EXPECT_TRUE(c.RcModeEnabled());
  EXPECT_TRUE(IsSupportedConverter(c.Identity().vendorId, c.Identity().productId));
  EXPECT_EQ(c.Identity().path, "sim:0");
}

TEST(ScenarioTest, DevicesKeepTheirOrderAndSections) {
  VirtualHost host;
  std::string error;
  ASSERT_TRUE(LoadScenarioText(R"({
    "devices": [
      {"type": "foreign", "vendor_id": 1133, "product_id": "0xC52B", "product": "Mouse"},
      {"path": "/dev/x", "product_id": "0x7305", "serial": "42", "rc_mode": false, "open_fails": true,
       "timing": {"latency_us": 10, "pending_polls": "3"},
       "memory": {"0x100": [1, "0x02", 3], "256": "FF"},
       "faults": [{"kind": "status", "command": 33, "status": "0xE2", "skip": 1, "times": 0}]}
    ]})",
                               host, error))
      << error;
  ASSERT_EQ(host.Devices().size(), 2u);
  EXPECT_EQ(host.Devices()[0].Identity().vendorId, 1133);
  EXPECT_EQ(host.Devices()[0].Identity().productId, 0xC52B);
  VirtualConverter& c = host.Converter(0);
  EXPECT_EQ(c.Identity().path, "/dev/x");
  EXPECT_EQ(c.Identity().productId, 0x7305);
  EXPECT_EQ(c.Identity().serial, "42");
  EXPECT_FALSE(c.RcModeEnabled());
  EXPECT_TRUE(c.openFails);
  EXPECT_EQ(c.Timing().latency, std::chrono::microseconds(10));
  EXPECT_EQ(c.Timing().pendingPolls, 3u);
  // Later blocks win: 256 = 0x100.
  EXPECT_EQ(c.Memory().ReadU32(0x100), 0x000302FFu);
}

TEST(ScenarioTest, BadScenariosAreRefusedWithTheirPlace) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "empty scenario"},
      {"{", "not valid JSON"},
      {"[]", "a scenario is a JSON object"},
      {R"({"device": []})", "unknown key \"device\""},
      {R"({"devices": {}})", "devices: expected an array"},
      {R"({"devices": [{"colour": 1}]})", "devices[0]: unknown key \"colour\""},
      {R"({"devices": [{"type": "printer"}]})", "devices[0]: type: expected \"converter\" or \"foreign\""},
      {R"({"devices": [{"type": "foreign", "memory": {}}]})",
       "devices[0]: unknown key \"memory\" for a foreign device"},
      {R"({"devices": [{"vendor_id": -1}]})", "devices[0]: vendor_id: negative number -1"},
      {R"({"devices": [{"product_id": "0x10000"}]})",
       "devices[0]: product_id: number \"0x10000\" out of range (at most 65535)"},
      {R"({"devices": [{"memory": {"0x10": "1 2"}}]})",
       "devices[0]: memory: 0x10: bad hex byte string \"1 2\" (expected e.g. \"05 11 20 20\")"},
      {R"({"devices": [{"memory": {"zz": "01"}}]})", "devices[0]: memory: zz: not a number: \"zz\""},
      {R"({"devices": [{"faults": [{"kind": "gremlin"}]}]})", "devices[0]: fault: unknown kind \"gremlin\""},
      {R"({"devices": [{"faults": [{"kind": "status"}]}]})", "devices[0]: fault: kind \"status\" needs a \"status\""},
      // Found by the scenario fuzzer: a number where a name belongs ended
      // the program with an uncaught exception.
      {R"({"devices": [{"faults": [{"kind": 5}]}]})", "devices[0]: fault: kind: expected a name"},
      {R"({"devices": [{"chip": {"type": 5}, "rdx4410": {"variant": 4}}]})",
       "devices[0]: rdx4410: variant: \"4a\" or \"4b\""},
      {R"({"devices": [{"timing": {"latency": 1}}]})", "devices[0]: timing: unknown key \"latency\""},
      {R"({"devices": [{"rc_mode": "on"}]})", "devices[0]: rc_mode: expected true or false"},
      {R"({"clock": "fast"})", "clock: expected \"virtual\" or \"steady\""},
  };
  for (const auto& tc : cases) {
    VirtualHost host;
    std::string error;
    EXPECT_FALSE(LoadScenarioText(tc.text, host, error)) << tc.text;
    EXPECT_EQ(error, tc.error) << tc.text;
  }
}

TEST(ScenarioTest, MissingFileIsAnError) {
  VirtualHost host;
  std::string error;
  EXPECT_FALSE(LoadScenarioFile("/nonexistent/scenario.json", host, error));
  EXPECT_EQ(error, "/nonexistent/scenario.json: No such file or directory");
}

// Scenario and EDID files are read only when they are regular files within
// their size limit: a FIFO would block for ever, /dev/zero never end.
TEST(ScenarioTest, FilesThatAreNoRegularFilesOrTooLargeAreRefusedAtOnce) {
  const std::string fifo = ktq::testing::TestPath("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string big = ktq::testing::TestPath("big.bin");
  std::ofstream(big).close();
  std::filesystem::resize_file(big, 257 * 128);
  const std::string dir = ktq::testing::TestDir().string();
  struct Case {
    std::string path;
    std::string error;
  } scenarios[] = {
      {fifo, fifo + ": is not a regular file"},
      {"/dev/zero", "/dev/zero: is not a regular file"},
      {dir, dir + ": is a directory"},
  };
  for (const auto& tc : scenarios) {
    VirtualHost host;
    std::string error;
    EXPECT_FALSE(LoadScenarioFile(tc.path, host, error)) << tc.path;
    EXPECT_EQ(error, tc.error);
  }
  const Case edids[] = {
      {fifo, "devices[0]: edid: input: " + fifo + ": is not a regular file"},
      {big, "devices[0]: edid: input: " + big + ": holds 32896 bytes, more than the 32768 an EDID file may hold"},
  };
  for (const auto& tc : edids) {
    VirtualHost host;
    std::string error;
    EXPECT_FALSE(LoadScenarioText(R"({"devices": [{"chip": {"type": 5}, "edid": {"input": ")" + tc.path + R"("}}]})",
                                  host, error));
    EXPECT_EQ(error, tc.error);
  }
}

// On virtual time the converter's erase and the host's reply waits share one
// clock: a 30-second erase and a 5-second budget pass at once, and the
// steady clock is back when the host goes away.
TEST(ScenarioTest, VirtualClockCarriesTheHostsWaitsAndTheConvertersDelays) {
  {
    VirtualHost host;
    std::string error;
    ASSERT_TRUE(LoadScenarioText(R"({"clock": "virtual", "devices": [{"chip": {"type": 5}, "rc_mode": false,
        "flash": {"erase_time_ms": 30000}, "faults": [{"kind": "never_complete", "command": 2}]}]})",
                                 host, error))
        << error;
    host.Install();
    ASSERT_EQ(RCInit(), 0);
    ASSERT_EQ(RCEnumAndOpenDevice(), 0);
    const ModelTime start = ModelNow();
    const uint8_t erase[2] = {0xFF, 0xFF};
    EXPECT_EQ(RCSetCommand(UPDC_ENABLE_RC, 5, 0, reinterpret_cast<const uint8_t*>("TAMBO")), 0);
    EXPECT_EQ(RCSetCommand(UPDC_ERASE_FLASH, 2, 0, erase), 0);
    const auto erased = ModelNow() - start;
    EXPECT_GE(erased, std::chrono::seconds(30));
    EXPECT_LT(erased, std::chrono::seconds(31));
    EXPECT_EQ(RCSetCommand(UPDC_DISABLE_RC, 0, 0, nullptr), -1);
    EXPECT_GE(ModelNow() - start - erased, std::chrono::seconds(5));
    RCExit();
  }
  EXPECT_FALSE(VirtualTimeOn());
  EXPECT_EQ(CurrentRcTiming().now, &RcClock::now);
}

TEST(ScenarioTest, ShippedExamplesLoad) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(KTQ_SOURCE_DIR "/sim/scenarios")) {
    if (entry.path().extension() != ".json") continue;  // edids/ holds the files they name
    VirtualHost host;
    std::string error;
    EXPECT_TRUE(LoadScenarioFile(entry.path().string(), host, error)) << error;
    EXPECT_GE(host.ConverterCount(), 1u) << entry.path();
    ++count;
  }
  EXPECT_GE(count, 3);
}

}  // namespace
}  // namespace ktq::sim

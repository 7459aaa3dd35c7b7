// Scenario files: the schema, its errors, the shipped examples.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "device/hid_session.h"
#include "sim/scenario.h"

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
      {R"({"devices": [{"timing": {"latency": 1}}]})", "devices[0]: timing: unknown key \"latency\""},
      {R"({"devices": [{"rc_mode": "on"}]})", "devices[0]: rc_mode: expected true or false"},
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

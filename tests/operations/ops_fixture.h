// A converter loaded from a scenario and identified, the message and
// progress slots captured, and helpers for image files and the requests the
// converter received.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "chipdb/chip_id.h"
#include "sim/scenario.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {

struct Progress {
  static inline std::vector<uint32_t> values;
  static void OnProgress(uint32_t percent) { values.push_back(percent); }
};

class OpsFixture : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    Progress::values.clear();
    RCSetCallbacks(Reports::OnRemoved, nullptr, Reports::OnMessage, nullptr, Progress::OnProgress);
  }

  // Loads the scenario, opens its first converter and identifies the chip;
  // the transfer log and the message text start empty after that.
  sim::VirtualConverter& Open(const std::string& scenario) {
    std::string error;
    EXPECT_TRUE(sim::LoadScenarioText(scenario, host, error)) << error;
    EXPECT_EQ(RCEnumAndOpenDevice(), 0);
    RCIdentifyChip();
    sim::VirtualConverter& c = host.Converter(0);
    c.SetTransferLog(true);
    Reports::Reset();
    return c;
  }

  // A file of this test's own (CTest runs tests side by side) holding
  // `bytes`.
  std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = TestPath(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    EXPECT_TRUE(out) << path;
    files_.push_back(path);
    return path;
  }

  static std::string TestPath(const std::string& name) { return ::ktq::testing::TestPath(name); }

  void TearDown() override {
    for (const auto& f : files_) std::remove(f.c_str());
    SimFixture::TearDown();
  }

 private:
  std::vector<std::string> files_;
};

// An image whose bytes differ from their neighbours and from erased flash.
inline std::vector<uint8_t> Image(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + (i >> 8) * 13 + 1) & 0xFF);
  return bytes;
}

// The RC requests a converter received, as (command, address) in order.
struct RcCall {
  uint8_t command;
  uint32_t address;
  bool operator==(const RcCall& o) const { return command == o.command && address == o.address; }
};
inline std::vector<RcCall> RcCalls(const sim::VirtualConverter& c) {
  std::vector<RcCall> out;
  for (const auto& r : Requests(c)) {
    if (r[1] != 0x00) continue;
    out.push_back({static_cast<uint8_t>(r[5] & 0x7F),
                   r[7] | r[8] << 8 | r[9] << 16 | static_cast<uint32_t>(r[10]) << 24});
  }
  return out;
}

inline std::vector<uint8_t> Commands(const sim::VirtualConverter& c) {
  std::vector<uint8_t> out;
  for (const RcCall& call : RcCalls(c)) out.push_back(call.command);
  return out;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A type-5 or type-6 converter with extra converter keys (JSON text that
// starts with a comma, or empty).
inline std::string Scenario(int chipType, const std::string& extra = "") {
  return R"({"devices": [{"chip": {"type": )" + std::to_string(chipType) + "}" + extra + "}]}";
}

}  // namespace ktq::testing

// A converter from a scenario, opened and identified, for the dump's tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "chipdb/chip_id.h"
#include "diagnostics/host_info.h"
#include "sim/scenario.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {

class DumpFixture : public SimFixture {
 protected:
  sim::VirtualConverter& LoadFile(const std::string& path) {
    std::string error;
    EXPECT_TRUE(sim::LoadScenarioFile(path, host, error)) << error;
    return OpenAndIdentify();
  }

  sim::VirtualConverter& LoadText(const std::string& text) {
    std::string error;
    EXPECT_TRUE(sim::LoadScenarioText(text, host, error)) << error;
    return OpenAndIdentify();
  }

  sim::VirtualConverter& OpenAndIdentify() {
    sim::VirtualConverter& c = host.Converter(0);
    EXPECT_EQ(RCEnumAndOpenDevice(), 0);
    RCIdentifyChip();
    FakeClock::sleeps.clear();
    return c;
  }

  // The one-second pauses the report made (the reply waits never sleep that
  // long).
  static size_t SecondPauses() {
    size_t n = 0;
    for (auto d : FakeClock::sleeps) n += d == std::chrono::seconds(1) ? 1 : 0;
    return n;
  }

  // The dump's text with the two parts that depend on when and where it
  // ran replaced: the header's time and the host block.
  static std::string Masked(std::string text) {
    text = std::regex_replace(text, std::regex("^Dump at [0-9:]+ [0-9/]+,"), "Dump at <time>,");
    const std::string hostBlock = diag::HostInfoText(diag::ReadHostFacts());
    const size_t at = text.find("\r\n\r\n" + hostBlock);
    if (!hostBlock.empty() && at != std::string::npos) text.replace(at + 4, hostBlock.size(), "<host>\r\n");
    else if (hostBlock.empty()) text.replace(text.find("\r\n\r\n") + 4, 0, "<host>\r\n");
    return text;
  }
};

}  // namespace ktq::testing

// The two link status layouts on chosen link states: whole reports of small
// cases, and edits of the golden dump where one value or one read changes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <string>

#include "device/rc_command.h"
#include "diagnostics/dump.h"
#include "diagnostics/link_status.h"
#include "tests/dump/dump_fixture.h"
#include "tests/support/ktq_run.h"

namespace ktq::testing {
namespace {

struct LinkCase {
  const char* what;
  std::string device;  // keys of the device entry besides "chip"
  std::string report;
  friend void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.what; }
};

// Second layout (type 6): everything comes from the port status records.
class SecondLayout : public DumpFixture, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(SecondLayout, WholeReport) {
  LoadText(R"({"devices": [{"chip": {"type": 6, "date_code": "0x20220415"}, )" + GetParam().device + "}]}");
  std::string text;
  LinkStatusReport2(text);
  EXPECT_EQ(text, GetParam().report);
}

const std::string kIdleReceiver =
    "RX: SST,  0lane unknown mode, FEC disabled, Lock sts: 00000000\r\n"
    "    Symbol error recently: 0000 0000 0000 0000, in 1s:  0000 0000 0000 0000\r\n\r\n";
const std::string kOthersIdle = "TX1: not connected \r\n\r\nTX2: not connected \r\n\r\nTX3: not connected \r\n\r\n";

std::string Tx0(const std::string& record) {
  return R"("registers": {"variant": "6b", "overrides": {"RX_ML_PHY_LOCK_STATES": 0}}, )"
         R"("link": {"port_records": [{"port": 0, "tx": )" + record + "}]}";
}

INSTANTIATE_TEST_SUITE_P(
    Records, SecondLayout,
    ::testing::Values(
        LinkCase{"every record zero", Tx0("{}"), kIdleReceiver + "TX0: not connected \r\n\r\n" + kOthersIdle},
        LinkCase{"HDMI with all five rate bits set is DVI", Tx0(R"({"flags": "0x1F03"})"),
                 kIdleReceiver + "TX0: DVI, DSC disabled. output disabled\r\n" + kOthersIdle},
        LinkCase{"HDMI 2.1 FRL code 5", Tx0(R"({"flags": "0x0587"})"),
                 kIdleReceiver + "TX0: HDMI2.1 FRL, 4Lane 10G, DSC enabled. output disabled\r\n" + kOthersIdle},
        LinkCase{"pattern generator, output off", Tx0(R"({"flags": "0x0003", "audio": "0x02"})"),
                 kIdleReceiver + "TX0: HDMI TMDS, DSC disabled. PTG modeoutput disabled\r\n" + kOthersIdle},
        LinkCase{"an MST DisplayPort output: no timing; no sink DPCD, no DPCD line",
                 Tx0(R"({"flags": "0x9409", "hdcp": "0x0B", "hdcp_state": 4})"),
                 kIdleReceiver +
                     "TX0: MST,  4lane HBR2 mode, FEC disabled, DSC disabled. \r\n"
                     "  HDCP: encryption: Yes, ECF:1, HDCP: 1.4, stream type: 1, state: 4 \r\n\r\n" +
                     kOthersIdle},
        LinkCase{"a DisplayPort output whose refresh has no leading zero and whose audio rate is in Hz",
                 Tx0(R"({"flags": "0x4A21", "audio": "0x25", "sample_rate": 44100, "ht": 2000, "vt": 1000,
                         "ha": 1600, "va": 900, "colour": "0x30", "pixel_clock_khz": 120100, "link_state": 2})"),
                 kIdleReceiver +
                     "TX0: SST,  2lane HBR mode, FEC enabled, DSC disabled. \r\n"
                     "  1600x900@60.5Hz, YUV420 8bpc, pixel clock: 120.1Mhz,  state: 2 \r\n"
                     "  Audio enabled,  2 channel,  44.100Hz,  LPCM audio\r\n"
                     "  HT: 2000, VT: 1000, HA: 1600, VA: 900, HS: 0, VS: 0, HSW: 0, VSW:0, HPOL: 0, VPOL: 0 \r\n"
                     "\r\n" +
                     kOthersIdle}),
    [](const auto& info) { return std::to_string(info.index); });

// First layout (type 5): the receiver lines when the link is not locked.
class FirstLayoutUnlocked : public DumpFixture, public ::testing::WithParamInterface<LinkCase> {};

TEST_P(FirstLayoutUnlocked, ReceiverLine) {
  LoadText(R"({"devices": [{"chip": {"type": 5}, "registers": {"variant": "5", "overrides": {
      "RX_HPD_PIN_CONFIG": 2, "RX_HPD_SRC_DET_CTRL": 0, "RX_ML_PHY_MODES": 15, "TX0_MISC_DP_HDMI_CTRL_0": 1,
      "CORE_PD_TCPC_CTRL_0": 0, )" + GetParam().device + "}]}");
  std::string text;
  LinkStatusReport(text);
  EXPECT_EQ(text, GetParam().report + "\r\nTX0: HPD signal is low\r\n\r\n\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    LockStates, FirstLayoutUnlocked,
    ::testing::Values(
        LinkCase{"nothing locked, receiver idle", R"("RX_ML_PHY_LOCK_STATES": 0}})",
                 "RX: HPD ON, SD ON, 0lane Unknown mode, DisplayPort no signal: 00000000\r\n\r\n\r\n"},
        LinkCase{"the unstable-link marker prints 0", R"("RX_ML_PHY_LOCK_STATES": "0xFEED0001"}})",
                 "RX: HPD ON, SD ON, 0lane Unknown mode, unstable RX link: 00000000\r\n\r\n\r\n"},
        LinkCase{"some lanes locked", R"("RX_ML_PHY_LOCK_STATES": "0x00100030"}}, "memory": {"0x900007F8": "14 04"})",
                 "RX: HPD ON, SD ON, 4lane HBR2 mode, unstable RX link: 00100030\r\n\r\n\r\n"},
        LinkCase{"no lock bits but the firmware is working on it",
                 R"("RX_ML_PHY_LOCK_STATES": 0}}, "memory": {"0x90000401": "03"})",
                 "RX: HPD ON, SD ON, 0lane Unknown mode, unstable RX link: 00000000\r\n\r\n\r\n"}),
    [](const auto& info) { return std::to_string(info.index); });

// Edits of the link status section of the dropping-link golden dump.
class FirstLayoutEdits : public DumpFixture {
 protected:
  std::string ReportOf(const nlohmann::json& scenario) {
    LoadText(scenario.dump());
    std::string text;
    LinkStatusReport(text);
    return text;
  }
  static nlohmann::json Scenario() {
    return nlohmann::json::parse(std::ifstream(KTQ_SOURCE_DIR "/sim/scenarios/dropping-link.json"));
  }
  // The section as the dump shows it: after the chip information, before
  // the line end the dump adds and the register list.
  static std::string Golden() {
    const std::string dump = SlurpFile(KTQ_SOURCE_DIR "/tests/data/dump/dropping-link.txt");
    const std::string before = "\r\nRunning in firmware\r\n\r\n";
    const size_t from = dump.find(before) + before.size();
    return dump.substr(from, dump.find("\r\nRegister data dump...") - from);
  }
  static std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  }
};

TEST_F(FirstLayoutEdits, AFailedSinkCounterReadLeavesTheDpcdLineOpen) {
  nlohmann::json s = Scenario();
  s["devices"][0]["faults"] = {{{"kind", "status"}, {"command", "0x32"}, {"address", "0x210"}, {"skip", 1}, {"status", 5}}};
  EXPECT_EQ(ReportOf(s), Replace(Golden(),
                               "symbol error recently: 0010 0002 0000 0033, in 1s: 0025 0004 0000 003c\r\n", ""));
}

TEST_F(FirstLayoutEdits, TruncatedMegahertzRoundedTenthAndSixteenBitsPerComponent) {
  nlohmann::json s = Scenario();
  auto& overrides = s["devices"][0]["registers"]["overrides"];
  overrides["RX_ML_FRM0_MEASURED3"] = "199368665";  // 60.19 Hz
  overrides["RX_ML_FRM0_MSA_MISC"] = "0x00860000";  // bit depth field 4 with bit 7; colour field 3
  EXPECT_EQ(ReportOf(s),
            Replace(Golden(), "RFRM0: 1920x1080@60.00Hz RGB 8bpc, pixel clock: 148.5MHz",
                    "RFRM0: 1920x1080@60.19Hz RGB 16bpc, pixel clock: 148.0MHz"));
}

}  // namespace
}  // namespace ktq::testing

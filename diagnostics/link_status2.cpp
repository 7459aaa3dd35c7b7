// The second layout of the link status report (chip type 6). The firmware
// keeps a status record per port and direction; only the lock state, the
// receiver's error counters, the sinks' DPCD and the DSC decoders are read
// beside them.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "device/rc_command.h"
#include "device/rc_timing.h"
#include "report/format.h"
#include "diagnostics/link_status.h"
#include "diagnostics/link_common.h"
#include "diagnostics/port_record.h"
#include "diagnostics/register_access.h"
#include "diagnostics/rx_dsc_info.h"
#include "diagnostics/vc_slot_report.h"

namespace {

using namespace ktq::diag;

constexpr std::chrono::seconds kSettle{1};
constexpr uint32_t kPorts = 4;

const char* const kColours[16] = {"RGB", "YUV444", "YUV422", "YUV420", "RGB", "RGB", "RGB", "RGB",
                                  "RGB", "RGB",    "RGB",    "RGB",    "RGB", "RGB", "RGB", "RGB"};
const char* const kEncryption[] = {"No", "Yes"};
const char* const kHdcpVersion[] = {" 1.4", " 2.2"};

bool Bit(uint32_t value, int bit) { return (value >> bit) & 1; }

const char* LinkRateText(uint32_t code) {
  switch (code) {
    case 1: return "10G mode, ";
    case 2: return "20G mode, ";
    case 4: return "13.5G mode, ";
    case 6: return "RBR mode, ";
    case 10: return "HBR mode, ";
    case 20: return "HBR2 mode, ";
    case 30: return "HBR3 mode, ";
    default: return "unknown mode, ";
  }
}

const char* FrlText(uint32_t code) {
  static const char* const kFrl[] = {"", "3Lane 3G, ", "3Lane 6G, ", "4Lane 6G, ", "4Lane 8G, ", "4Lane 10G, ",
                                     "4Lane 12G, "};
  return code < 7 ? kFrl[code] : "";
}

// A set of four counters, read from 3 down to 0.
struct CounterSet {
  const char* names[4];
  uint32_t first[4] = {}, second[4] = {};  // indexed by counter number
};

bool ReadCounters(const CounterSet& set, uint32_t (&values)[4]) {
  bool lastOk = false;
  for (int k = 3; k >= 0; --k) lastOk = ReadNamed(set.names[k], values[k]);
  return lastOk;
}

std::string CounterText(const char* format, const CounterSet& s) {
  return FormatString(format, s.first[0] & 0xFFFF, s.first[1] & 0xFFFF, s.first[2] & 0xFFFF, s.first[3] & 0xFFFF,
                      s.second[0] & 0xFFFF, s.second[1] & 0xFFFF, s.second[2] & 0xFFFF, s.second[3] & 0xFFFF);
}

void AppendReceiverLine(std::string& text, const PortRecord& r) {
  const uint32_t f = r.flags;
  const bool dp2 = Bit(f, 2);
  text += FormatString("RX: %s, ", StreamMode(Bit(f, 3)));
  text += FormatString(" %dlane ", r.Lanes());
  text += FormatString(LinkRateText(r.RateCode()));
  if (!dp2) {
    text += FormatString(Bit(f, 5) ? "FEC enabled, " : "FEC disabled, ");
    if (Bit(f, 4)) text += FormatString("FEC ready, ");
  }
  if (Bit(f, 6)) text += FormatString("DSC ready, ");
  text += FormatString("Lock sts: %08x\r\n", NamedOrZero(dp2 ? "RX_ML_DP2_PHY_STAT" : "RX_ML_PHY_LOCK_STATES"));
}

void AppendReceiverCounters(std::string& text, const PortRecord& r) {
  const bool dp2 = Bit(r.flags, 2);
  CounterSet sets[3] = {
      dp2 ? CounterSet{{"RX_ML_DP2_PHY_ERR_COUNTERS_0", "RX_ML_DP2_PHY_ERR_COUNTERS_1", "RX_ML_DP2_PHY_ERR_COUNTERS_2",
                        "RX_ML_DP2_PHY_ERR_COUNTERS_3"}}
          : CounterSet{{"RX_ML_PHY_ERR_COUNTERS_0", "RX_ML_PHY_ERR_COUNTERS_1", "RX_ML_PHY_ERR_COUNTERS_2",
                        "RX_ML_PHY_ERR_COUNTERS_3"}},
      dp2 ? CounterSet{{"RX_ML_DP2_PHY_FEC_ERR_CNT_0", "RX_ML_DP2_PHY_FEC_ERR_CNT_1", "RX_ML_DP2_PHY_FEC_ERR_CNT_2",
                        "RX_ML_DP2_PHY_FEC_ERR_CNT_3"}}
          : CounterSet{{"RX_ML_PHY_FEC_ERR_CNT_0", "RX_ML_PHY_FEC_ERR_CNT_1", "RX_ML_PHY_FEC_ERR_CNT_2",
                        "RX_ML_PHY_FEC_ERR_CNT_3"}},
      dp2 ? CounterSet{{"RX_ML_DP2_PHY_FEC_BIT_ERR_CNT_0", "RX_ML_DP2_PHY_FEC_BIT_ERR_CNT_1",
                        "RX_ML_DP2_PHY_FEC_BIT_ERR_CNT_2", "RX_ML_DP2_PHY_FEC_BIT_ERR_CNT_3"}}
          : CounterSet{{"RX_ML_PHY_FEC_BIT_ERR_CNT_0", "RX_ML_PHY_FEC_BIT_ERR_CNT_1", "RX_ML_PHY_FEC_BIT_ERR_CNT_2",
                        "RX_ML_PHY_FEC_BIT_ERR_CNT_3"}},
  };
  const int setsRead = dp2 || Bit(r.flags, 5) ? 3 : 1;
  for (int k = 0; k < setsRead; ++k) ReadCounters(sets[k], sets[k].first);
  ktq::Pause(kSettle);
  bool lastOk = false;
  for (int k = 0; k < setsRead; ++k) lastOk = ReadCounters(sets[k], sets[k].second);
  if (!lastOk) {
    text += FormatString("    read symbol error register fail \r\n");
  } else {
    text += CounterText("    Symbol error recently: %04x %04x %04x %04x, in 1s:  %04x %04x %04x %04x\r\n", sets[0]);
    if (setsRead == 3) {
      text += CounterText("    FEC uncorrected error:%04x %04x %04x %04x, in 1s:  %04x %04x %04x %04x\r\n", sets[1]);
      text += CounterText("    FEC bit error:               %04x %04x %04x %04x, in 1s:  %04x %04x %04x %04x\r\n",
                          sets[2]);
    }
  }
  text += FormatString("\r\n");
}

void AppendTimingPair(std::string& text, const PortRecord& r) {
  text += FormatString("  HT: %d, VT: %d, HA: %d, VA: %d, HS: %d, VS: %d, HSW: %d, VSW:%d, ", r.ht, r.vt, r.ha, r.va,
                       r.hs, r.vs, r.Hsw(), r.Vsw());
  text += FormatString("HPOL: %d, VPOL: %d \r\n", r.Hpol(), r.Vpol());
}

// The audio line; the receive stream prints its rate in "KHz", the
// transmitter in "Hz".
void AppendAudio(std::string& text, const PortRecord& r, const char* rateFormat) {
  const bool audio = Bit(r.audio, 2);
  text += FormatString("  Audio %s, ", Enabled(audio));
  if (!audio) {
    text += FormatString(" channel: n/a, type: n/a \r\n");
    return;
  }
  text += FormatString(" %d channel, ", r.audio >> 4);
  text += FormatString(rateFormat, r.sampleRate / 1000, r.sampleRate % 1000);
  text += FormatString(Bit(r.audio, 3) ? " compressed audio\r\n" : " LPCM audio\r\n");
}

void AppendHdcp(std::string& text, uint8_t hdcp, uint8_t state) {
  text += FormatString("  HDCP: ");
  text += FormatString("encryption: %s, ", kEncryption[Bit(hdcp, 1)]);
  text += FormatString("ECF:%d, ", Bit(hdcp, 0) ? 1 : 0);
  text += FormatString("HDCP:%s, ", kHdcpVersion[Bit(hdcp, 2)]);
  text += FormatString("stream type: %d, ", Bit(hdcp, 3) ? 1 : 0);
  text += FormatString("state: %d \r\n", state);
}

void AppendStream(std::string& text, uint32_t p, const PortRecord& r) {
  const uint32_t refresh = r.Refresh100();
  text += FormatString("RFRM%d: ", p);
  text += FormatString("%dx", r.ha);
  text += FormatString("%d", r.va);
  text += FormatString("@%d.%dHz ", refresh / 100, refresh % 100);
  text += FormatString(" %s ", kColours[r.ColourIndex()]);
  text += FormatString(" %dbpc, ", r.Bpc());
  text += FormatString("pixel clock: %d.%01dMhz, ", r.pixelClockKHz / 1000, r.ClockTenth());
  text += FormatString(" state: %d \r\n", r.linkState);
  AppendAudio(text, r, " %d.%dKHz, ");
  AppendTimingPair(text, r);
  if (Bit(r.hdcp, 1)) AppendHdcp(text, r.hdcp, r.hdcpState);
  text += FormatString("\r\n");
  if (Bit(r.flags, 7)) {
    DscRecord dsc;
    RxDscInfo(p, dsc);
    text += DscStreamLines(dsc);
    if (dsc.control & kDscDecompressBit) text += FormatString("  DSC decompression enabled\r\n");
    text += FormatString("\r\n");
  }
}

void AppendSinkStatus(std::string& text, uint32_t p) {
  uint8_t status[8] = {};
  if (!ReadDpcd(p, 0x200, sizeof status, status)) return;
  text += FormatString("  DPCD 202~205h: %02x %02x %02x %02x, ", status[2], status[3], status[4], status[5]);
  AppendSinkSymbolErrors(text, p);
}

void AppendTransmitter(std::string& text, uint32_t p, const PortRecord& t) {
  const uint32_t f = t.flags;
  if (!Bit(f, 0)) {
    text += FormatString("TX%d: not connected \r\n\r\n", p);
    return;
  }
  const uint32_t g = f | static_cast<uint32_t>(t.hdcp) << 16;
  const bool hdmi = Bit(f, 1);
  bool mst = false;
  if (!hdmi) {
    mst = Bit(f, 3);
    text += FormatString("TX%d: %s, ", p, StreamMode(mst));
    text += FormatString(" %dlane ", t.Lanes());
    text += FormatString(LinkRateText(t.RateCode()));
    text += FormatString(Bit(f, 5) ? "FEC enabled, " : "FEC disabled, ");
  } else {
    text += FormatString("TX%d: ", p);
    if (!Bit(f, 2)) {
      text += FormatString(t.RateCode() == 0x1F ? "DVI, " : "HDMI TMDS, ");
    } else {
      text += FormatString("HDMI2.1 FRL, ");
      text += FormatString(FrlText(t.RateCode()));
    }
  }
  text += FormatString(Bit(f, 7) ? "DSC enabled. " : "DSC disabled. ");
  if (mst) text += FormatString("\r\n");
  if (Bit(t.audio, 1)) text += FormatString("PTG mode");
  if (!Bit(t.audio, 0) && !mst) {
    text += FormatString("output disabled\r\n");
    return;
  }
  if (!mst) {
    const uint32_t refresh = t.Refresh100();
    text += FormatString("\r\n");
    text += FormatString("  %dx", t.ha);
    text += FormatString("%d", t.va);
    text += FormatString("@%d.%dHz, ", refresh / 100, refresh % 100);
    text += FormatString("%s ", kColours[t.ColourIndex()]);
    text += FormatString("%dbpc, ", t.Bpc());
    text += FormatString("pixel clock: %d.%01dMhz, ", t.pixelClockKHz / 1000, t.ClockTenth());
    text += FormatString(" state: %d \r\n", t.linkState);
    AppendAudio(text, t, " %d.%dHz, ");
    AppendTimingPair(text, t);
  }
  if (!hdmi) AppendSinkStatus(text, p);
  if (Bit(g, 17)) AppendHdcp(text, t.hdcp, t.hdcpState);
  text += FormatString("\r\n");
}

}  // namespace

void LinkStatusReport2(std::string& text) {
  PortRecord rx[kPorts], tx[kPorts];
  for (uint32_t p = 0; p < kPorts; ++p) {
    rx[p] = ReadPortRecord(p, PortDirection::kReceive);
    std::printf("RX%d: %dx%d@%d.%dMHz\r\n", p, rx[p].ha, rx[p].va, rx[p].pixelClockKHz / 1000, rx[p].pixelClockKHz % 1000);
    tx[p] = ReadPortRecord(p, PortDirection::kTransmit);
    std::printf("TX%d: %dx%d@%d.%dMHz\r\n", p, tx[p].ha, tx[p].va, tx[p].pixelClockKHz / 1000, tx[p].pixelClockKHz % 1000);
  }
  AppendReceiverLine(text, rx[0]);
  AppendReceiverCounters(text, rx[0]);
  for (uint32_t p = 0; p < kPorts; ++p) {
    if (Bit(rx[p].flags, 0) && Bit(tx[p].flags, 0)) AppendStream(text, p, rx[p]);
    AppendTransmitter(text, p, tx[p]);
  }
  if (Bit(rx[0].flags, 0)) VcSlotReport(text);
}

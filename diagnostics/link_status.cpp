// The first layout of the link status report (chip types 4 and 5): one pass
// per receive stream and transmitter, each gathering every value first and
// then printing the receiver (first pass only), the stream and the
// transmitter. A pass that cannot read one of the registers it cannot do
// without ends the report body; the CC/PD line and the slot tables follow
// regardless.
#include <chrono>
#include <cstdint>

#include "chipdb/chip_id.h"
#include "chipdb/register_db.h"
#include "device/rc_timing.h"
#include "report/format.h"
#include "diagnostics/link_status.h"
#include "diagnostics/link_common.h"
#include "diagnostics/register_access.h"
#include "diagnostics/rx_dsc_info.h"
#include "diagnostics/tx_hpd_state.h"
#include "diagnostics/vc_slot_report.h"

namespace {

using namespace ktq::diag;

constexpr std::chrono::seconds kSettle{1};
constexpr uint32_t kUnstableLink = 0xFEED0001;

const char* const kRateNames[] = {"Unknown", "RBR", "HBR", "HBR2", "HBR3"};
const char* const kHdcpSuffix[] = {"", " 1.4", " 2.2"};
const char* const kColours[] = {"RGB", "YUV422", "YUV444", "YUV420", "RGB", "RGB", "RGB"};
const char* const kHdmiInterfaces[] = {"DVI", "HDMI", "DDVI_O", "DDVI_E", "VGA", "HDMI2.1 FRL"};
const char* const kAuthentication[] = {"NG", "OK"};
const char* const kAudioKinds[] = {"LPCM", "HBR"};
const uint32_t kLinkClockHz[] = {270000000, 162000000, 270000000, 540000000, 810000000};
const float kSampleRateKHz[16] = {44.1f, 44.1f, 48, 32, 32, 32, 32, 32, 88.2f, 88.2f, 96, 96, 176.4f, 176.4f, 192, 384};
const int kWordLengthBits[16] = {16, 16, 16, 20, 18, 22, 20, 20, 20, 23, 20, 24, 17, 21, 20, 20};

constexpr uint32_t kRxHdcp22State = 0x90000A13;
constexpr uint32_t kTxHdcp22State = 0x90000E95;
constexpr uint32_t kTxHdcpStride = 0x43C;
constexpr uint32_t kFrlRateType5 = 0x90000A60;
constexpr uint32_t kAudioStride = 0x400;

uint32_t RateIndex(uint32_t code) { return code <= 0x24 ? (code + 8) / 9 : 4; }
bool Bit(uint32_t value, int bit) { return (value >> bit) & 1; }

struct Timing {
  uint16_t ht = 0, vt = 0, hs = 0, vs = 0, ha = 0, va = 0;
  uint32_t hsw = 0, hpol = 0, vsw = 0, vpol = 0;
};

Timing TimingFrom(const uint8_t* b) {
  Timing t;
  t.ht = LittleEndian16(b);
  t.vt = LittleEndian16(b + 2);
  t.hs = LittleEndian16(b + 4);
  t.vs = LittleEndian16(b + 6);
  t.ha = LittleEndian16(b + 8);
  t.va = LittleEndian16(b + 10);
  const uint32_t sync = LittleEndian32(b + 12);
  t.hsw = sync & 0x7FFF;
  t.hpol = (sync >> 15) & 1;
  t.vsw = (sync >> 16) & 0x7FFF;
  t.vpol = sync >> 31;
  return t;
}

std::string TimingLine(const Timing& t) {
  return FormatString("   HT: %d, VT: %d, HA: %d, VA: %d, HS: %d, VS: %d, HSW: %d, VSW: %d, HPOL: %d, VPOL: %d\r\n", t.ht,
                      t.vt, t.ha, t.va, t.hs, t.vs, t.hsw, t.vsw, t.hpol, t.vpol);
}

// The whole megahertz truncated, the tenth taken from the value rounded to
// 100 kHz (148,960,000 Hz prints 148.0).
uint32_t Mhz(uint32_t hz) { return hz / 1000000; }
uint32_t MhzTenth(uint32_t hz) { return static_cast<uint32_t>((static_cast<uint64_t>(hz) + 50000) / 100000 % 10); }

struct ReceiverHdcp {
  bool active = false, hdcp22 = false, linkError = false;
  uint32_t ecf0 = 0, ecf1 = 0, typeLow = 0, typeHigh = 0;
  uint8_t state = 0, flag = 0, event = 0;
  int versionIndex = 0;
};

struct Pass {
  uint32_t i = 0;
  uint32_t rxOffset = 0, txOffset = 0;
  bool hpd = false, sourceDetected = false, locked = false, mst = false, txMst = false;
  uint32_t lockStatus = 0;
  bool fwRead = false;
  uint8_t rxState = 0, rateCode = 0, laneByte = 0;
  uint32_t rateIndex = 0, laneCount = 0;
  bool efm = false;
  uint32_t colour = 0, bpc = 0, vbid = 0;
  Timing msa;
  bool msaValid = false;
  bool audio = false, hbr = false;
  uint32_t channels = 0, sampleRateCode = 0, wordLengthCode = 0;
  bool fecOn = false, fecEnabled = false, dsc = false;
  uint32_t refresh100 = 0, pixelClock = 0;
  ReceiverHdcp hdcp;
  int txVersion = 0;
  bool encrypted = false;
  uint32_t contentType = 0;
  bool txHpd = false;
  bool dscLinePrinted = false;
  DscRecord dscRecord;
};

struct Transmitter {
  bool hdmi = false, linkUp = false, outputOn = false, timingValid = false, efm = false, ssc = false;
  uint32_t rateIndex = 0, lanes = 0, bpc = 0, colour = 0, mode = 0, frlRate = 0, frlLanes = 0;
  bool audio = false;
  Timing timing;
  uint32_t refresh100 = 0, pixelClock = 0;
  uint8_t dpcd200[16] = {};
  bool authenticated = false, encryption = false, mute = false;
  uint8_t state = 0, flag = 0, event = 0;
};

class FirstLayout {
 public:
  explicit FirstLayout(std::string& text) : text_(text) {}
  void Run();

 private:
  bool Gather(Pass& p);
  bool GatherStreamFormat(Pass& p);
  void GatherAudio(Pass& p);
  void GatherRefresh(Pass& p);
  void GatherReceiverHdcp(Pass& p);
  void GatherEncryption(Pass& p);
  void ReceiverLines(Pass& p);
  void StreamLines(Pass& p);
  bool GatherTransmitter(Pass& p, Transmitter& t);
  void GatherTransmitterHdcp(Pass& p, Transmitter& t);
  bool GatherDisplayPortTiming(const Pass& p, Transmitter& t);
  void GatherHdmiTiming(const Pass& p, Transmitter& t);
  void TransmitterLines(const Pass& p, const Transmitter& t);

  std::string& text_;
  bool type5_ = false;
  uint32_t linkRateAddress_ = 0, stateAddress_ = 0;
  bool firmwareMemoryUsable_ = true;
  bool rxReported_ = false, rxMst_ = false;
};

void FirstLayout::Run() {
  type5_ = CurrentChipType() == 5;
  if (type5_) {
    linkRateAddress_ = NamedAddressTable("ADDR_RX_LINK_RATE");
    stateAddress_ = NamedAddressTable("ADDR_RX_STATE");
  }
  const uint32_t passes = type5_ ? 1 : 3;
  for (uint32_t i = 0; i < passes; ++i) {
    Pass p;
    p.i = i;
    p.rxOffset = RxPortStride() * i;
    p.txOffset = TxPortStride() * i;
    if (!Gather(p)) break;
    if (i == 0)
      ReceiverLines(p);
    else if (p.hpd && p.locked)
      StreamLines(p);
    Transmitter t;
    if (!GatherTransmitter(p, t)) break;
    TransmitterLines(p, t);
  }
  const uint32_t chipType = CurrentChipType();
  uint32_t pd = 0;
  if ((chipType == 4 || chipType == 5) && ReadNamed("CORE_PD_TCPC_CTRL_0", pd) && (pd & 3) == 3)
    text_ += FormatString("CC%d detected by internal CC/PD\r\n\r\n", Bit(pd, 12) ? 2 : 1);
  if (chipType <= 5 && rxReported_ && rxMst_) VcSlotReport(text_);
}

bool FirstLayout::Gather(Pass& p) {
  uint32_t v = 0;
  if (!ReadNamed("RX_HPD_PIN_CONFIG", v)) return false;
  p.hpd = Bit(v, 1);
  if (!ReadNamed("RX_HPD_SRC_DET_CTRL", v)) return false;
  p.sourceDetected = !Bit(v, 31);
  if (!ReadNamed("RX_ML_PHY_LOCK_STATES", p.lockStatus)) return false;
  if (!ReadNamed("RX_ML_PHY_MODES", v)) return false;
  const uint32_t laneMask = v & 0xF;
  // Every lane in use shows its lock bit, and the link as a whole is locked.
  p.locked = (laneMask & ~(p.lockStatus >> 4) & 0xF) == 0 && Bit(p.lockStatus, 20);
  if (!ReadNamed("RX_ML_COMMON_RX_GENERAL_CTRL", v)) return false;
  p.mst = Bit(v, 0);
  if (p.mst && p.i < 2) {
    if (!ReadNamed("TX0_ML_COMMON_TX_GENERAL_CTRL", v, p.txOffset)) return false;
    if (v != kNoValue) p.txMst = Bit(v, 0);
  }

  // The firmware's own view of the link; a pass that cannot read it keeps
  // the following passes from trying.
  uint8_t state = 0;
  if (firmwareMemoryUsable_ && stateAddress_ + p.i != 0 && ReadMemory(stateAddress_ + p.i, 1, &state)) {
    p.rxState = state;
    uint8_t rate[2] = {};
    if (linkRateAddress_ != 0 && ReadMemory(linkRateAddress_, 2, rate)) {
      p.rateCode = rate[0];
      p.laneByte = rate[1];
    }
    p.fwRead = true;
  }
  firmwareMemoryUsable_ = p.fwRead;
  p.rateIndex = RateIndex(p.rateCode);
  p.laneCount = p.laneByte & 0x1F;
  p.efm = Bit(p.laneByte, 7);

  if (!GatherStreamFormat(p)) return false;
  p.vbid = NamedOrZero("RX_ML_FRM0_VBID", p.rxOffset);
  uint8_t totals[20] = {};
  if (!ReadMemory(RegisterAt("RX_ML_FRM0_MSA_TOTALS", p.rxOffset), sizeof totals, totals))
    for (uint8_t& b : totals) b = 0;
  p.msa = TimingFrom(totals);
  p.msaValid = true;
  GatherAudio(p);
  const uint32_t fec = NamedOrZero("RX_ML_PHY_FEC_CONFIG");
  p.fecOn = Bit(fec, 0);
  p.fecEnabled = Bit(fec, 28);
  if (p.fwRead) p.dsc = Bit(NamedOrZero(TxHpdState(0) == 1 ? "RX_ML_FRM0_VBID" : "RX_ML_FRM1_VBID"), 6);
  GatherRefresh(p);
  p.pixelClock = static_cast<uint32_t>(static_cast<uint64_t>(p.refresh100) * p.msa.ht * p.msa.vt / 100);
  GatherReceiverHdcp(p);

  // The transmitter's HDCP version as far as it can be told without the
  // receiver's HDCP state.
  if (p.i == 0) {
    p.txVersion = Bit(NamedOrZero("TX0_HDMI_HDCP_CTRL0"), 2) ? 2 : 1;
  } else if (Bit(NamedOrZero("TX1_MISC_DP_HDMI_CTRL_0"), 0)) {
    p.txVersion = Bit(NamedOrZero("TX0_HDMI_HDCP_CTRL0"), 2) ? 2 : 1;
  } else {
    p.txVersion = Bit(NamedOrZero("TX1_ML_HDCP_MODE"), 16) ? 2 : 1;
  }
  GatherEncryption(p);
  p.txHpd = TxHpdState(p.i) != 0;
  return true;
}

bool FirstLayout::GatherStreamFormat(Pass& p) {
  uint32_t misc = 0;
  if (!ReadNamed("RX_ML_FRM0_MSA_MISC", misc, p.rxOffset)) return false;
  if (!Bit(misc, 30)) {
    const uint32_t misc0 = (misc >> 16) & 0xFF;
    p.colour = (misc0 >> 1) & 3;
    if (p.colour == 3) p.colour = 0;
    p.bpc = Bit(misc0, 7) ? 4 * (misc0 >> 5) : 6 + 2 * (misc0 >> 5);
    return true;
  }
  // The colour format travels in the VSC packet instead.
  uint32_t vsc = 0;
  if (!ReadNamed("RX_AUD_LSCLK0_VSC_PKT_DATA", vsc, p.rxOffset)) return false;
  const uint32_t e = (vsc >> 12) & 0xF;
  p.colour = e == 1 ? 2 : e == 2 ? 1 : e == 3 ? 3 : 0;
  p.bpc = 6 + 2 * ((vsc >> 16) & 3);
  return true;
}

void FirstLayout::GatherAudio(Pass& p) {
  const uint32_t offset = kAudioStride * p.i;
  if (!Bit(NamedOrZero("RX_AUD_LSCLK0_AUDIO_EN", offset), 0)) return;
  p.audio = true;
  const uint32_t decode = NamedOrZero("RX_AUD_LSCLK0_DECODE_STATUS", offset);
  p.channels = ((decode >> 12) & 7) + 1;
  p.hbr = Bit(decode, 8);
  uint8_t status[8] = {};
  if (!ReadMemory(RegisterAt("RX_AUD_LSCLK0_EXTRACTED_CH_STATUS_LSB", offset), sizeof status, status))
    for (uint8_t& b : status) b = 0;
  p.sampleRateCode = (LittleEndian32(status) >> 24) & 0xF;
  p.wordLengthCode = LittleEndian32(status + 4) & 0xF;
}

void FirstLayout::GatherRefresh(Pass& p) {
  const uint32_t frames = NamedOrZero("RX_ML_FRM0_MEASUREMENT_CTRL", p.rxOffset) & 0xFF;
  const uint32_t cycles = NamedOrZero("RX_ML_FRM0_MEASURED3", p.rxOffset);
  if (cycles == 0) return;
  const uint32_t clockHz = ((NamedOrZero("CORE_CLK_REG_CLK_CTRL") >> 16) & 0x3FF) * 1000000u;
  p.refresh100 = static_cast<uint32_t>(static_cast<uint64_t>(frames) * 100 * clockHz / cycles);
}

void FirstLayout::GatherReceiverHdcp(Pass& p) {
  ReceiverHdcp& h = p.hdcp;
  h.active = Bit(NamedOrZero("RX_ML_HDCP_CTRL_STS"), 1);
  if (!h.active) return;
  h.hdcp22 = Bit(NamedOrZero("RX_ML_HDCP_MODE"), 16);
  h.linkError = Bit(NamedOrZero("RX_ML_HDCP_CTRL_STS"), 0);
  h.ecf0 = NamedOrZero("RX_ML_HDCP_ECF_RECEIVED_0");
  h.ecf1 = NamedOrZero("RX_ML_HDCP_ECF_RECEIVED_1");
  if (h.hdcp22) {
    h.state = ByteOrZero(kRxHdcp22State);
    h.flag = ByteOrZero(kRxHdcp22State + 1);
    h.event = ByteOrZero(kRxHdcp22State + 2);
    h.typeLow = NamedOrZero("RX_ML_HDCP_HDCP22_TYPE_LOW");
    h.typeHigh = NamedOrZero("RX_ML_HDCP_HDCP22_TYPE_HIGH");
  } else {
    h.ecf0 = NamedOrZero("RX_ML_HDCP_ECF_RECEIVED_0");
    h.ecf1 = NamedOrZero("RX_ML_HDCP_ECF_RECEIVED_1");
  }
  h.versionIndex = 1 + (h.hdcp22 ? 1 : 0);
}

// Whether stream i is encrypted: in MST the stream's first time slot picks
// its bit of the encryption-control field.
void FirstLayout::GatherEncryption(Pass& p) {
  if (!p.mst) {
    p.encrypted = p.hdcp.active;
    p.contentType = p.hdcp.typeLow != 0 ? 1 : 0;
    return;
  }
  uint8_t vcids[12] = {};
  if (!ReadMemory(RegisterAt("RX_ML_VC_DFRM0_DFRM_VCID0"), sizeof vcids, vcids))
    for (uint8_t& b : vcids) b = 0;
  const uint32_t vcid = vcids[4 * p.i] & 0x3F;
  if (vcid == 0) return;
  uint8_t slots[64] = {};
  if (!ReadMemory(RegisterAt("RX_ML_VC_SLOT_USE_0"), sizeof slots, slots))
    for (uint8_t& b : slots) b = 0;
  uint32_t s = 0;
  while (s < 64 && !(Bit(slots[s], 6) && (slots[s] & 0x3Fu) == vcid)) ++s;
  p.encrypted = s <= 31 ? Bit(p.hdcp.ecf0, static_cast<int>((s - 1) & 31)) : Bit(p.hdcp.ecf1, static_cast<int>((s - 32) & 31));
  p.contentType = p.txVersion == 2 ? Bit(p.hdcp.typeLow, static_cast<int>(s & 31)) : 0;
}

void FirstLayout::ReceiverLines(Pass& p) {
  if (!p.hpd) {
    text_ += FormatString("RX HPD signal is low\r\n\r\n\r\n");
    return;
  }
  if (!p.locked) {
    uint8_t state = 0;
    const bool stateOk = ReadMemory(stateAddress_, 1, &state);
    const bool unstable = p.lockStatus != 0 || (state != 0 && stateOk);
    const uint32_t value = p.lockStatus == kUnstableLink ? 0 : p.lockStatus;
    text_ += FormatString(unstable ? "RX: HPD %s, SD %s, %dlane %s mode, unstable RX link: %08x\r\n\r\n\r\n"
                                   : "RX: HPD %s, SD %s, %dlane %s mode, DisplayPort no signal: %08x\r\n\r\n\r\n",
                          "ON", OnOff(p.sourceDetected), p.laneCount, kRateNames[p.rateIndex], value);
    rxReported_ = false;
    return;
  }
  rxMst_ = p.mst;
  if (!p.dsc && !p.fecOn) {
    text_ += FormatString("RX: %s %dlane %s mode, EFM %s, Lock sts: %08x\r\n", StreamMode(p.mst), p.laneCount,
                          kRateNames[p.rateIndex], Enabled(p.efm), p.lockStatus);
  } else {
    text_ += FormatString("RX: %s %dlane %s mode, DSC %s FEC %s, FEC %s, Lock sts: %08x\r\n", StreamMode(p.mst),
                          p.laneCount, kRateNames[p.rateIndex], OnOff(p.dsc), OnOff(p.fecOn), Enabled(p.fecEnabled),
                          p.lockStatus);
  }

  static const char* const kCounters[] = {"RX_ML_PHY_ERR_COUNTERS_3", "RX_ML_PHY_ERR_COUNTERS_2",
                                          "RX_ML_PHY_ERR_COUNTERS_1", "RX_ML_PHY_ERR_COUNTERS_0"};
  uint32_t first[4] = {}, second[4] = {};  // counters 3, 2, 1, 0
  for (int k = 0; k < 4; ++k) first[k] = NamedOrZero(kCounters[k]);
  ktq::Pause(kSettle);
  bool lastOk = true;
  for (int k = 0; k < 4; ++k) lastOk = ReadNamed(kCounters[k], second[k]);
  if (!lastOk)
    for (int k = 0; k < 4; ++k) first[k] = second[k] = 0;
  text_ += FormatString("    Symbol error recently: %04x %04x %04x %04x, in 1s:  %04x %04x %04x %04x\r\n",
                        first[3] & 0xFFFF, first[2] & 0xFFFF, first[1] & 0xFFFF, first[0] & 0xFFFF,
                        second[3] & 0xFFFF, second[2] & 0xFFFF, second[1] & 0xFFFF, second[0] & 0xFFFF);

  const ReceiverHdcp& h = p.hdcp;
  if (h.active) {
    text_ += FormatString("    HDCP%s : ", kHdcpSuffix[h.versionIndex]);
    if (h.linkError) {
      text_ += FormatString("Link Error");
    } else if (p.mst) {
      text_ += FormatString("ECF %08X %08X", h.ecf1, h.ecf0);
      if (h.hdcp22) text_ += FormatString(", TYPE %08X %08X", h.typeHigh, h.typeLow);
    } else if (h.hdcp22) {
      text_ += FormatString(", TYPE %d", h.typeLow != 0 ? 1 : 0);
    }
    if (h.hdcp22)
      text_ += FormatString(", state %d, flag %d, event: %d\r\n", h.state, h.flag, h.event);
    else
      text_ += FormatString(", state %d\r\n", 0);
  }
  text_ += FormatString("\r\n");
  rxReported_ = true;
  StreamLines(p);
}

void FirstLayout::StreamLines(Pass& p) {
  if (!(p.msaValid && !p.txMst && p.txHpd)) return;
  if (p.dsc || Bit(p.vbid, 6)) RxDscInfo(p.i, p.dscRecord);
  text_ += FormatString("RFRM%d: %dx%d@%d.%02dHz %s %dbpc, pixel clock: %d.%01dMHz, Audio %s, state %d\r\n", p.i,
                        p.msa.ha, p.msa.va, p.refresh100 / 100, p.refresh100 % 100, kColours[p.colour], p.bpc,
                        Mhz(p.pixelClock), MhzTenth(p.pixelClock), Enabled(p.audio), p.rxState);
  if (p.audio) {
    text_ += FormatString("   Audio: %d channel %.1fKHz %dbits %s audio\r\n", p.channels,
                          static_cast<double>(kSampleRateKHz[p.sampleRateCode]), kWordLengthBits[p.wordLengthCode],
                          kAudioKinds[p.hbr ? 1 : 0]);
  }
  text_ += TimingLine(p.msa);
  const bool decompressing = (p.dscRecord.control & kDscDecompressBit) != 0;
  if (Bit(p.vbid, 6) || (p.dsc && decompressing)) {
    text_ += FormatString("\r\n") + DscStreamLines(p.dscRecord);
    text_ += FormatString(decompressing ? "   DSC decompression enabled\r\n" : "   DSC pass-thru enabled\r\n");
    p.dscLinePrinted = true;
  }
  if (p.hdcp.active) {
    text_ += FormatString("   HDCP status from source: HDCP%s encryption %s", kHdcpSuffix[p.hdcp.versionIndex],
                          Enabled(p.encrypted));
    if (p.hdcp.hdcp22 && p.encrypted)
      text_ += FormatString(", TYPE %d content stream\r\n", p.contentType);
    else
      text_ += FormatString("\r\n");
  }
}

void FirstLayout::GatherTransmitterHdcp(Pass& p, Transmitter& t) {
  int& version = p.txVersion;
  if (!t.hdmi) {
    const uint32_t control = NamedOrZero("TX0_ML_HDCP_CTRL_STS", p.txOffset);
    t.encryption = Bit(control, 16);
    t.authenticated = true;
    version = Bit(control, 24) || Bit(NamedOrZero("TX0_ML_HDCP_MODE", p.txOffset), 16) ? 2 : 1;
  } else if (Bit(NamedOrZero("TX0_HDMI_HDCP_CTRL0", p.txOffset), 2)) {
    version = 2;
    t.authenticated = true;
    t.encryption = Bit(NamedOrZero("TX0_HDMI_HDCP_LINK_STATUS", p.txOffset), 31);
  } else {
    // HDCP 1.4 shows a running link only as a link status that keeps
    // changing.
    version = 1;
    const uint32_t before = NamedOrZero("TX0_HDMI_HDCP_LINK_STATUS", p.txOffset);
    ktq::Pause(kSettle);
    const uint32_t after = NamedOrZero("TX0_HDMI_HDCP_LINK_STATUS", p.txOffset);
    t.authenticated = t.encryption = ((before ^ after) & 0xFFFFFF) != 0;
  }
  t.mute = Bit(NamedOrZero("RX_ML_FRM0_VIF_PIX_CTRL0", p.rxOffset), 0);
  if (version == 2) {
    const uint32_t base = kTxHdcp22State + kTxHdcpStride * p.i;
    t.state = ByteOrZero(base);
    t.flag = ByteOrZero(base + 1);
    t.event = ByteOrZero(base + 2);
  }
}

bool FirstLayout::GatherTransmitter(Pass& p, Transmitter& t) {
  t.hdmi = Bit(NamedOrZero("TX0_MISC_DP_HDMI_CTRL_0", p.txOffset), 0);
  if (p.hdcp.active) GatherTransmitterHdcp(p, t);

  if (!t.hdmi && p.txHpd) {
    uint8_t caps[8] = {};
    if (p.fwRead && !ReadDpcd(p.i, 0x100, sizeof caps, caps))
      for (uint8_t& b : caps) b = 0;
    t.rateIndex = RateIndex(caps[0]);
    t.ssc = Bit(caps[7], 4);
    uint32_t v = 0;
    if (!ReadNamed("TX1_ML_FRM_CTRL", v)) return false;
    t.lanes = (v >> 2) & 7;
    uint32_t s = 0;
    if (!ReadNamed("TX1_ML_FRM_STRM_CTRL0", s)) return false;
    t.outputOn = !Bit(s, 0);
    t.efm = Bit(s, 1);
    t.timingValid = Bit(s, 25);
    t.bpc = (s >> 2) & 0x1F;
    if (!Bit(s, 22)) {
      t.colour = (s >> 9) & 3;
      if (t.colour == 3) t.colour = 0;
    } else {
      t.colour = p.colour;
    }
    if (p.fwRead && !ReadDpcd(p.i, 0x200, sizeof t.dpcd200, t.dpcd200))
      for (uint8_t& b : t.dpcd200) b = 0;
    t.linkUp = Bit(t.dpcd200[4], 0);
  } else if (type5_ && p.i == 0) {
    uint32_t out = 0;
    if (!ReadNamed("TX0_HDMI_VIDP_OUT_CTRL", out, p.txOffset)) return false;
    if (out == kNoValue) out = 0;
    t.bpc = 8 + 2 * ((out >> 2) & 3);
    t.colour = (out & 3) == 1 ? 2 : (out & 3) == 2 ? 1 : 0;
    t.linkUp = t.outputOn = t.timingValid = true;
    t.mode = Bit(out, 7) ? 1 : 0;
    if (t.mode == 1 && Bit(NamedOrZero("TX0_HDMI_PHY_CTRL", p.txOffset), 2)) {
      t.mode = 5;
      uint8_t frl[2] = {};
      if (ReadMemory(kFrlRateType5, sizeof frl, frl)) {
        t.frlRate = frl[0];
        t.frlLanes = frl[1];
      }
    }
  }

  if (!t.timingValid) return true;
  if (!t.hdmi) return GatherDisplayPortTiming(p, t);
  GatherHdmiTiming(p, t);
  return true;
}

bool FirstLayout::GatherDisplayPortTiming(const Pass& p, Transmitter& t) {
  uint8_t totals[16] = {};
  if (!ReadMemory(RegisterAt("TX1_ML_FRM_TOTALS"), sizeof totals, totals)) {
    t.timingValid = false;
    return false;
  }
  t.timing = TimingFrom(totals);
  const uint32_t ctrl3 = NamedOrZero("TX1_ML_FRM_FRM_CTRL3");
  const uint32_t stat0 = NamedOrZero("TX1_ML_FRM_FRAME_STAT0");
  if (stat0 != 0) {
    t.refresh100 = static_cast<uint32_t>(static_cast<uint64_t>((ctrl3 >> 8) & 0xFF) * 100 * kLinkClockHz[t.rateIndex] /
                                         (static_cast<uint64_t>(stat0) * 2));
  }
  t.audio = (NamedOrZero("TX1_DP_AUD_CTRL") & 3) != 0;
  uint32_t s = 0;
  if (ReadNamed("TX1_ML_FRM_STRM_CTRL0", s) && Bit(s, 22)) {
    if (Bit(NamedOrZero("RX_AUD_LSCLK1_DATA_VIA_SPIF_EN"), 5)) {
      t.colour = p.colour;
    } else {
      uint32_t spare = 0;
      if (!ReadNamed("TX1_MISC_SPARE0", spare)) {
        t.colour = 0;
      } else {
        const uint32_t e = (spare >> 4) & 0xF;
        t.colour = e == 1 ? 2 : e == 2 ? 1 : e == 3 ? 3 : 0;
      }
    }
  }
  t.pixelClock = static_cast<uint32_t>(static_cast<uint64_t>(t.refresh100) * t.timing.vt * t.timing.ht / 100);
  return true;
}

void FirstLayout::GatherHdmiTiming(const Pass& p, Transmitter& t) {
  uint8_t totals[16] = {};
  if (!p.dscLinePrinted) {
    if (!ReadMemory(RegisterAt("RX_ML_FRM0_ACTUAL_TOTALS", p.rxOffset), sizeof totals, totals))
      for (uint8_t& b : totals) b = 0;
  } else {
    const uint32_t dec0 = RegisterAt("RX_DEC0_CTRL"), dec1 = RegisterAt("RX_DEC1_CTRL");
    const uint32_t actual = RegisterAt("RX_DEC0_ACTUAL_TOTALS", (dec1 - dec0) * p.i);
    if (!ReadMemory(actual, sizeof totals, totals)) for (uint8_t& b : totals) b = 0;
    // The decoder keeps the vertical polarity in bit 28.
    const uint32_t w = LittleEndian32(totals + 12);
    const uint32_t sync = (w & 0x0FFFFFFF) + (w & 0xF0000000) * 8;
    for (int k = 0; k < 4; ++k) totals[12 + k] = static_cast<uint8_t>(sync >> (8 * k));
  }
  t.timing = TimingFrom(totals);
  if (t.colour == 2) {
    const uint32_t width = NamedOrZero("TX0_HDMI_VIDP_ACT_VID_WH", p.txOffset) & 0xFFFF;
    if (width == t.timing.ha / 2u || (p.colour == 3 && width == t.timing.ha)) t.colour = 3;
  }
  t.audio = Bit(NamedOrZero("TX0_HDMI_FRM_TMDS_PKT_GEN_CTRL", p.txOffset), 9);
  t.pixelClock = static_cast<uint32_t>(static_cast<uint64_t>(t.timing.ht) * t.timing.vt * p.refresh100 / 100);
  if (p.colour == 3) {
    // YUV 4:2:0 carries two pixels per clock on the way in.
    t.pixelClock *= 2;
    t.timing.ht = static_cast<uint16_t>(t.timing.ht * 2);
    t.timing.ha = static_cast<uint16_t>(t.timing.ha * 2);
    t.timing.hs = static_cast<uint16_t>(t.timing.hs * 2);
    t.timing.hsw = (t.timing.hsw & 0x3FFF) * 2;
  }
  if (t.timing.ht != 0 && t.timing.vt != 0)
    t.refresh100 = static_cast<uint32_t>(static_cast<uint64_t>(t.pixelClock) * 100 / (static_cast<uint64_t>(t.timing.ht) * t.timing.vt));
}

void FirstLayout::TransmitterLines(const Pass& p, const Transmitter& t) {
  text_ += FormatString("\r\n");
  if (!p.txHpd) {
    text_ += FormatString("TX%d: HPD signal is low\r\n", p.i);
    text_ += FormatString("\r\n\r\n");
    return;
  }
  if (!t.linkUp) {
    if (p.rxState < 6 && !p.txMst) {
      const char* format = p.rxState < 2   ? "TX%d: HPD %s, no output from source\r\n"
                           : p.rxState < 4 ? "TX%d: HPD %s, parsing the input\r\n"
                                           : "TX%d: HPD %s, under programming\r\n";
      text_ += FormatString(format, p.i, "ON");
    } else {
      text_ += FormatString("TX%d: HPD %s, link training failed: %02x %02x %02x \r\n", p.i, "ON", t.dpcd200[2],
                            t.dpcd200[3], t.dpcd200[4]);
    }
    text_ += FormatString("\r\n\r\n");
    return;
  }
  if (!t.hdmi) {
    if (p.txMst) {
      text_ += FormatString("TX%d: %dlane %s mode, EFM %s, SSC %s, MST output\r\n", p.i, t.lanes,
                            kRateNames[t.rateIndex], Enabled(t.efm), Enabled(t.ssc));
    } else if (!p.fecEnabled) {
      text_ += FormatString("TX%d: %dlane %s mode, EFM %s, SSC %s, output %s\r\n", p.i, t.lanes,
                            kRateNames[t.rateIndex], Enabled(t.efm), Enabled(t.ssc), Enabled(t.outputOn));
    } else {
      // Type-5 transmitters never encode FEC themselves.
      text_ += FormatString("TX%d: %dlane %s mode, EFM %s, SSC %s, output %s, FEC encode %s\r\n", p.i, t.lanes,
                            kRateNames[t.rateIndex], Enabled(t.efm), Enabled(t.ssc), Enabled(t.outputOn),
                            Enabled(false));
    }
  } else if (t.mode == 5 && t.frlRate != 0) {
    text_ += FormatString("TX%d: HPD %s, %s %dLane %dGHz, output %s\r\n", p.i, "ON", "HDMI2.1 FRL", t.frlLanes,
                          t.frlRate, Enabled(t.outputOn));
  } else {
    text_ += FormatString("TX%d: HPD %s, %s output, output %s\r\n", p.i, "ON", kHdmiInterfaces[t.mode],
                          Enabled(t.outputOn));
  }
  if ((t.outputOn || t.timingValid) && !p.txMst) {
    text_ += FormatString("   %dx%d@%d.%02dHz %s %dbpc, pixel clock: %d.%1dMHz, Audio %s\r\n", t.timing.ha,
                          t.timing.va, t.refresh100 / 100, t.refresh100 % 100, kColours[t.colour], t.bpc,
                          Mhz(t.pixelClock), MhzTenth(t.pixelClock), Enabled(t.audio));
    text_ += TimingLine(t.timing);
  }
  if (!t.hdmi) {
    text_ += FormatString("   DPCD 202~205h: %02x %02x %02x %02x, ", t.dpcd200[2], t.dpcd200[3], t.dpcd200[4],
                          t.dpcd200[5]);
    AppendSinkSymbolErrors(text_, p.i);
  }
  if (p.txVersion != 0) {
    text_ += FormatString("   HDCP%s : Encryption %s", kHdcpSuffix[p.txVersion], Enabled(t.encryption));
    if (!t.encryption) text_ += FormatString(", authentication %s", kAuthentication[t.authenticated ? 1 : 0]);
    if (t.mute) text_ += FormatString(", output is mute");
    if (p.txVersion == 1)
      text_ += FormatString(", state %d\r\n", 0);
    else
      text_ += FormatString(", state %d", t.state) + FormatString(", flag %d, event %d\r\n", t.flag, t.event);
  }
  text_ += FormatString("\r\n\r\n");
}

}  // namespace

void LinkStatusReport(std::string& text) { FirstLayout(text).Run(); }

#include "diagnostics/dump.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "chipdb/chip_id.h"
#include "chipdb/register_db.h"
#include "device/hid_session.h"
#include "device/rc_command.h"
#include "device/rc_timing.h"
#include "diagnostics/chip_info.h"
#include "diagnostics/edid_reader.h"
#include "report/format.h"
#include "diagnostics/host_info.h"
#include "diagnostics/link_status.h"
#include "diagnostics/register_access.h"
#include "report/report_callbacks.h"
#include "diagnostics/tx_hpd_state.h"

namespace {

using namespace ktq::diag;

// Registers read at once: 64 of them, 256 bytes.
constexpr uint32_t kMaxRun = 64;
constexpr uint32_t kMemoryStart = 0x90000000;
constexpr uint32_t kMemoryRow = 64;
// Areas the register walk never reads: reading them stalls the chip's bus.
constexpr uint32_t kSkippedArea = 0x60;
constexpr uint32_t kSkippedAreaType6 = 0x70;

DumpSectionObserver sectionObserver = nullptr;

void Section(const char* name) {
  if (sectionObserver) sectionObserver(name);
}

uint32_t ChipType() { return CurrentChipType(); }

}  // namespace

namespace ktq::diag {

void AppendRegisterWalk(std::string& text, const std::vector<RegisterEntry>& list, uint32_t chipType) {
  size_t next = 0;
  while (next < list.size()) {
    const uint32_t first = list[next].address;
    uint32_t count = 1;
    while (count < kMaxRun && next + count < list.size() && list[next + count].address == first + 4 * count) ++count;
    const size_t runStart = next;
    next += count;
    const uint32_t area = first >> 24;
    if (area == kSkippedArea || (chipType == 6 && area == kSkippedAreaType6)) continue;
    std::vector<uint8_t> values(4 * count);
    if (first == 0 || RCReadRegister(first, 4 * count, values.data()) != 0) {
      text += FormatString("read out the register (%06Xh) failed\r\n", first);
      return;
    }
    for (uint32_t k = 0; k < count; ++k) {
      const uint32_t value = LittleEndian32(&values[4 * k]);
      text += FormatString("%06Xh: 0x%08X (%d)\r\n", list[runStart + k].address, value, static_cast<int32_t>(value));
      text += FormatString("\r\n");
    }
  }
}

}  // namespace ktq::diag

namespace {

struct InterruptBlock {
  const char* first;
  const char* end;  // not part of the block
  bool type5;       // types 4 and 6 have every block
};

// Registers of a block; a block whose bounds the database lacks is empty
// (counting from an absent register would walk unrelated memory).
uint32_t BlockCount(const InterruptBlock& b) {
  const uint32_t first = RegisterAt(b.first), end = RegisterAt(b.end);
  if (first == 0 || end <= first) return 0;
  return (end - first) / 4;
}

void AppendInterruptStatus(std::string& text) {
  const uint32_t type = ChipType();
  uint32_t gate = 0;
  // The firmware holds its status registers only while it is not in a
  // protected state: any bit but 24 set means hands off.
  if (!ReadNamed(type == 6 ? "CORE_MCU_SPAD0" : "CORE_MCU_PASSWD", gate) || (gate & 0xFEFFFFFF) != 0) return;
  static const InterruptBlock kBlocks[] = {
      {"RX_INTR_HPD_INT_STATUS", "RX_INTR_HDCP_INT_STATUS", true},
      {"TX0_INTR_HPD0_INT_STATUS", "TX0_INTR_HDMI_FRL_INT_STATUS", true},
      {"TX1_INTR_HPD0_INT_STATUS", "TX1_INTR_HDMI_FRL_INT_STATUS", false},
      {"TX2_INTR_HPD0_INT_STATUS", "TX2_INTR_HDMI_FRL_INT_STATUS", false},
      {"TX3_INTR_HPD0_INT_STATUS", "TX3_INTR_HDMI_FRL_INT_STATUS", false},
  };
  // Types 4 and 5 share the first two blocks, type 4 adds TX1, type 6 has
  // all five.
  const size_t blocks = type == 6 ? 5 : type == 4 ? 3 : 2;
  auto pass = [&](bool writeBack) {
    for (size_t k = 0; k < blocks; ++k)
      AppendRegisterBlock(text, RegisterAt(kBlocks[k].first), BlockCount(kBlocks[k]), writeBack);
  };
  pass(false);
  pass(true);
  ktq::Pause(std::chrono::seconds(1));
  pass(false);
}

void AppendMemory(std::string& text) {
  text += FormatString("\r\nMemory data dump...\r\n");
  const uint32_t rows = ChipType() == 6 ? 236 : 192;
  for (uint32_t row = 0; row < rows; ++row) {
    const uint32_t address = kMemoryStart + row * kMemoryRow;
    uint8_t bytes[kMemoryRow] = {};
    if (RCReadRegister(address, kMemoryRow, bytes) != 0 && RCReadRegister(address, kMemoryRow, bytes) != 0) {
      text += FormatString("read out the memory data failed at the address: %08Xh, dump is abort\r\n", address);
      break;
    }
    AppendHexBlock(text, address, bytes, kMemoryRow, false);
  }
  text += FormatString("Memory data dump finished\r\n\r\n");
}

struct DpcdRange {
  uint32_t length;
  uint32_t start;
};
constexpr DpcdRange kDpcdRanges[] = {{0x22, 0x0000}, {0x10, 0x0060}, {0x10, 0x0080}, {0x12, 0x0100},
                                     {0x10, 0x0120}, {0x10, 0x0160}, {0x18, 0x0200}, {0x40, 0x02C0},
                                     {0x10, 0x0400}, {0x10, 0x0500}, {0x12, 0x2200}};

void AppendDpcd(std::string& text) {
  const uint32_t ports = ChipType() == 6 ? 2 : 1;
  for (uint32_t t = 0; t < ports; ++t) {
    if (TxHpdState(t) == 0) continue;
    // Only a DisplayPort output has a DPCD; a mode register that cannot be
    // read leaves that unknown, so the port is skipped.
    const uint32_t modeAddress = RegisterAt("TX0_MISC_DP_HDMI_CTRL_0", TxPortStride() * t);
    uint32_t mode = 0;
    if (modeAddress != 0 && !ReadWord(modeAddress, mode)) continue;
    if (mode & 1) continue;
    text += FormatString("TX%d DPCD register:\r\n", t);
    for (const DpcdRange& range : kDpcdRanges) {
      uint8_t bytes[0x40] = {};
      if (!ReadDpcd(t, range.start, range.length, bytes)) break;
      AppendHexBlock(text, range.start, bytes, range.length, true);
    }
  }
}

void AppendEdids(std::string& text) {
  std::string edid;
  ReadEdidText(0, edid);
  text += FormatString("\r\n\r\nTambo EDID:\r\n") + edid;
  const uint32_t outputs = ChipType() == 6 ? 4 : 3;
  for (uint32_t t = 0; t < outputs; ++t) {
    ReadEdidText(t + 1, edid);
    if (!edid.empty())
      text += FormatString("\r\n\r\nTX%d EDID:\r\n", t) + edid;
    else
      text += FormatString("\r\n\r\nTX%d no connection\r\n\r\n", t);
  }
}

std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buffer[128] = {};
  std::strftime(buffer, sizeof buffer, "%H:%M:%S %m/%d/%Y", &local);
  return buffer;
}

}  // namespace

void AppendRegisterBlock(std::string& text, uint32_t first, uint32_t count, bool writeBack) {
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t address = first + 4 * k;
    uint8_t bytes[4] = {};
    const bool ok = RCReadRegister(address, sizeof bytes, bytes) == 0;
    if (writeBack) {
      // Writing the value back clears exactly the bits that were latched.
      if (ok) RCSetCommand(UPDC_WRITE_TO_MEMORY, sizeof bytes, address, bytes);
      continue;
    }
    if (k % 4 == 0) text += FormatString("\r\n%06xh:", address);
    text += FormatString(" %08x", ok ? LittleEndian32(bytes) : 0u);
  }
  if (!writeBack) text += FormatString("\r\n");
}

namespace ktq::diag {

void AppendHexBlock(std::string& text, uint32_t start, const uint8_t* bytes, uint32_t length, bool closeLine) {
  text += FormatString("%08Xh:", start);
  for (uint32_t i = 1; i <= length; ++i) {
    text += FormatString(" %02X", bytes[i - 1]);
    if (i % 16 == 0) {
      text += FormatString("\r\n");
      if (i != length) text += FormatString("%08Xh:", start + i);
    } else if (i % 8 == 0) {
      text += FormatString("  ");
    }
  }
  if (closeLine) text += FormatString("\r\n");
}

void SetDumpSectionObserver(DumpSectionObserver observer) { sectionObserver = observer; }

std::string DumpText(const char* version, const std::string& localTime) {
  std::string text;
  text += FormatString("Dump at %s, application tool version: %s\r\n", localTime.c_str(), version);
  text += FormatString("\r\n");
  Section("host information");
  AppendHostInfo(text);
  text += FormatString("\r\n");
  Section("chip information");
  AppendChipInfo(text);
  text += FormatString("\r\n");
  Section("link status");
  if (CurrentChipType() == 6)
    LinkStatusReport2(text);
  else
    LinkStatusReport(text);
  text += FormatString("\r\n");
  Section("registers");
  text += FormatString("Register data dump...\r\n");
  AppendRegisterWalk(text, RegisterList(), CurrentChipType());
  Section("interrupt status");
  AppendInterruptStatus(text);
  text += FormatString("\r\nRegister data dump finished\r\n");
  Section("memory");
  AppendMemory(text);
  Section("DPCD");
  AppendDpcd(text);
  Section("EDIDs");
  AppendEdids(text);
  return text;
}

}  // namespace ktq::diag

namespace {

ktq::diag::DumpReads lastDumpReads;

}  // namespace

ktq::diag::DumpReads ktq::diag::LastDumpReads() { return lastDumpReads; }

int32_t RCDumpAll(const char* path, const char* version) {
  lastDumpReads = {};
  if (DeviceHandle() == nullptr) return -1;
  std::FILE* file = std::fopen(path, "w+");
  if (file == nullptr) {
    ktq::ReportMessage("Open file FAILED!!\n");
    return -1;
  }
  ktq::ReportMessage("Dump register/memory...");
  // A converter that stops answering would cost every remaining read its
  // whole reply budget: hours for a dump of thousands of reads.
  constexpr int kUnansweredReadsBeforeGivingUp = 3;
  std::string text;
  {
    ktq::RcCallWatch watch(kUnansweredReadsBeforeGivingUp);
    text = ktq::diag::DumpText(version, LocalTimeText());
    lastDumpReads = {watch.Refused(), watch.RefusedMemoryReads(), watch.RefusedEdidReads(), watch.Unanswered(),
                     watch.GaveUp()};
  }
  // A dump that did not reach the disk whole must not pass for one.
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    ktq::ReportMessage("Write file FAILED!!\n");
    return -1;
  }
  ktq::ReportMessage("finished.\r\n");
  return 0;
}

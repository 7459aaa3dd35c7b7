#include "diagnostics/vc_slot_report.h"

#include <cstdint>

#include "chipdb/chip_id.h"
#include "chipdb/register_db.h"
#include "report/format.h"
#include "diagnostics/link_common.h"
#include "diagnostics/register_access.h"

namespace {

using namespace ktq::diag;

constexpr uint32_t kSlots = 64;
constexpr uint32_t kNoVcid = 0xDEADBEEF;

// 64 slots in rows of 16: three spaces before a row, two between groups of
// four, three between the halves.
template <typename Entry>
void AppendSlotTable(std::string& text, const uint8_t* slots, Entry entry) {
  for (uint32_t j = 0; j < kSlots; ++j) {
    if (j % 16 == 0) text += "\r\n";
    if (j % 8 == 0) text += " ";
    if (j % 4 == 0) text += " ";
    text += entry(slots[j]);
  }
  text += "\r\n";
}

}  // namespace

void VcSlotReport(std::string& text) {
  uint8_t slots[kSlots] = {};
  if (!ReadMemory(RegisterAt("RX_ML_VC_SLOT_USE_0"), kSlots, slots)) return;
  text += FormatString("RX VC slot info (FF means unused):");
  AppendSlotTable(text, slots, [](uint8_t b) {
    return (b & 0x40) ? FormatString(" %02X", b & 0x3F) : FormatString(" FF");
  });

  uint8_t vcids[16] = {};
  if (!ReadMemory(RegisterAt("RX_ML_VC_DFRM0_DFRM_VCID0"), sizeof vcids, vcids)) return;
  text += FormatString("RFRM VCID list:");
  for (int k = 0; k < 4; ++k) {
    const uint32_t word = LittleEndian32(vcids + 4 * k);
    if (word != kNoVcid) text += FormatString(" %02X", word & 0x3F);
  }
  text += FormatString("\r\n\r\n");

  // A type-6 chip has MST on its first three transmitters; types 4 and 5
  // on their second only.
  const bool type6 = CurrentChipType() == 6;
  const uint32_t first = type6 ? 0 : 1, last = type6 ? 2 : 1;
  for (uint32_t t = first; t <= last; ++t) {
    const uint32_t offset = type6 ? TxPortStride() * t : 0;
    uint32_t control = 0;
    if (!ReadNamed(type6 ? "TX0_ML_COMMON_TX_GENERAL_CTRL" : "TX1_ML_COMMON_TX_GENERAL_CTRL", control, offset)) return;
    uint8_t txSlots[kSlots] = {};
    if (control != kNoValue && (control & 1)) {
      if (!ReadMemory(RegisterAt(type6 ? "TX0_ML_VC_SLOT_USE_0" : "TX1_ML_VC_SLOT_USE_0", offset), kSlots, txSlots))
        return;
    }
    text += FormatString("TX%d VC slot info (FF means unused):", t);
    AppendSlotTable(text, txSlots, [](uint8_t b) {
      return (b & 0x10) ? FormatString(" %02X", b) : FormatString(" FF");
    });
    uint32_t vcid = 0;
    if (!ReadNamed("RX_ML_VC_TX0_TX_VCID0", vcid, 4 * t)) return;
    text += FormatString("TX%d VCID list: %02x-%02x\r\n", t, vcid & 0x3F, (vcid >> 8) & 0x3F);
    text += FormatString("\r\n");
  }
}

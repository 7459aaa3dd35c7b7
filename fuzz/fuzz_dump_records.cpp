// What the dump's reporters read from the device is outside data: the
// firmware's port status records, the DSC decoder blocks, slot tables,
// counters, DPCD and identity bytes. The first input byte picks the
// reporter; the rest is served as the device's input reports, so any
// record content, short reply or failure reaches the decoders and the
// formatting. They must neither crash nor stop early.
#include <cstddef>
#include <cstdint>
#include <string>

#include "chipdb/register_db.h"
#include "diagnostics/chip_info.h"
#include "diagnostics/link_status.h"
#include "diagnostics/vc_slot_report.h"
#include "fuzz/replay_backend.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || !ktq::fuzz::OpenReplayConverter()) return 0;
  // Registers resolve through a loaded database: the type-6 one, whose
  // variant choice reads the date code (here: from no reply at all).
  static const bool loaded = [] {
    ktq::fuzz::ServeReplies(nullptr, 0);
    return LoadRegisterDatabase(6) == 0;
  }();
  (void)loaded;
  ktq::fuzz::ServeReplies(data + 1, size - 1);
  std::string text;
  switch (data[0] % 4) {
    case 0: LinkStatusReport2(text); break;
    case 1: LinkStatusReport(text); break;
    case 2: VcSlotReport(text); break;
    default: AppendChipInfo(text); break;
  }
  return 0;
}

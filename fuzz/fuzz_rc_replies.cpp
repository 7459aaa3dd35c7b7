// Device replies are outside data: the RC layer must survive any sequence of
// input reports (short, garbage, pending for ever, failing) within its
// budgets. The first input byte picks the operation, the rest is served as
// the device's input reports.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/rc_command.h"
#include "fuzz/replay_backend.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || !ktq::fuzz::OpenReplayConverter()) return 0;
  ktq::fuzz::ServeReplies(data + 1, size - 1);
  const uint8_t pick = data[0];
  const uint32_t length = (pick & 0x3F) + 1;  // 1 to 64: one or more chunks
  std::vector<uint8_t> buffer(length, 0xA5);
  if (pick & 0x80)
    RCReadRegister(0x20200D30, length, buffer.data());
  else
    RCSetCommand(pick & 0x40 ? UPDC_ERASE_FLASH : UPDC_WRITE_TO_MEMORY, length, 0x90000000, buffer.data());
  return 0;
}

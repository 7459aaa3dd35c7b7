// I2C-master replies and the companion MCU's mailbox words are outside data:
// transactions, the speed search and mailbox commands must survive any
// sequence of input reports within their budgets. The first input byte picks
// the operation and its length, the rest is served as input reports.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "i2c/i2c_master.h"
#include "device/rc_command.h"
#include "fuzz/replay_backend.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || !ktq::fuzz::OpenReplayConverter()) return 0;
  ktq::fuzz::ServeReplies(data + 1, size - 1);
  const uint8_t pick = data[0];
  const uint32_t length = (pick & 0x3F) + 1;  // 1 to 64: several transactions or chunks
  std::vector<uint8_t> buffer(length, 0xA5);
  I2CMSetTarget(25, 0x72);
  switch (pick >> 6) {
    case 0: I2CMRead(0x20200280, length, buffer.data()); break;
    case 1: I2CMWrite(0x20200290, length, buffer.data()); break;
    case 2: RCI2CSetCommand(UPDC_WRITE_TO_MEMORY, length, 0x90000000, buffer.data()); break;
    default: I2CMSettleSpeed(); break;
  }
  return 0;
}

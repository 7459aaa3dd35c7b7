#include "diagnostics/link_common.h"

#include <chrono>

#include "device/rc_timing.h"
#include "diagnostics/register_access.h"
#include "report/format.h"

namespace ktq::diag {

void AppendSinkSymbolErrors(std::string& text, uint32_t port) {
  uint8_t first[8] = {}, second[8] = {};
  const bool firstOk = ReadDpcd(port, 0x210, sizeof first, first);
  ktq::Pause(std::chrono::seconds(1));
  const bool secondOk = ReadDpcd(port, 0x210, sizeof second, second);
  if (!firstOk || !secondOk) return;
  text += FormatString("symbol error recently: %04x %04x %04x %04x, in 1s: %04x %04x %04x %04x\r\n",
                       LittleEndian16(first), LittleEndian16(first + 2), LittleEndian16(first + 4),
                       LittleEndian16(first + 6), LittleEndian16(second), LittleEndian16(second + 2),
                       LittleEndian16(second + 4), LittleEndian16(second + 6));
}

}  // namespace ktq::diag

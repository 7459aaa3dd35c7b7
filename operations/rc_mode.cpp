#include "operations/rc_mode.h"

#include "device/rc_command.h"

namespace ktq {

int32_t EnableRcMode() {
  return RCSetCommand(UPDC_ENABLE_RC, kRcCodeWordLength, 0,
                      reinterpret_cast<const uint8_t*>(kRcCodeWord));
}

int32_t DisableRcMode() {
  return RCSetCommand(UPDC_DISABLE_RC, 0, 0, nullptr);
}

}  // namespace ktq

// RC command mode of the main chip, shared by the update operations.
#pragma once

#include <cstdint>

namespace ktq {

// UPDC_ENABLE_RC with the code word; the command's result. The update flows
// take 0 and 1 as success (RcEnableSucceeded).
int32_t EnableRcMode();
inline bool RcEnableSucceeded(int32_t result) { return result == 0 || result == 1; }

// UPDC_DISABLE_RC; the command's result.
int32_t DisableRcMode();

}  // namespace ktq

#include "diagnostics/tx_hpd_state.h"

#include "chipdb/chip_id.h"
#include "chipdb/register_db.h"
#include "device/rc_command.h"

int32_t TxHpdState(uint32_t port) {
  const uint32_t chipType = CurrentChipType();
  if (chipType != 5 && chipType != 6) return 0;
  const uint32_t address = GetRegisterAddress("CORE_GPIO_RX");
  if (address == 0 || address == ktq::chipdb::kNoRegister) return 0;
  uint8_t bytes[4] = {};
  if (RCGetCommand(UPDC_READ_FROM_MEMORY, sizeof bytes, address, bytes) != 0) return 0;
  const uint32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  // Type 6 has one hot-plug input per port from bit 24 (ports beyond the
  // fourth read port 0's); type 5 one for port 0 and one shared by the rest.
  uint32_t bit = 0;
  if (chipType == 6) {
    bit = (port >= 1 && port <= 3) ? 24 + port : 24;
  } else {
    bit = port == 0 ? 16 : 17;
  }
  return static_cast<int32_t>((value >> bit) & 1);
}

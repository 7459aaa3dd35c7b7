#include "operations/cascade_update.h"

#include <cstdio>

#include "chipdb/chip_id.h"
#include "chipdb/register_db.h"
#include "device/hid_session.h"
#include "i2c/i2c_master.h"
#include "device/rc_command.h"
#include "report/report_callbacks.h"
#include "operations/firmware_update.h"
#include "operations/rc_mode.h"

namespace {

constexpr int32_t kCascadeRefused = 242;  // 0xF2
constexpr uint32_t kCascadeChipType = 5;
constexpr uint32_t kCompanionChipType = 4;

// Word of the main chip's data memory that holds 0x00100000 while the
// companion's image is written through the main chip.
constexpr uint32_t kFlashOwnerWord = 0x900024DC;
constexpr uint32_t kFlashOwnerDuringWrite = 0x00100000;

constexpr uint8_t kCompanionMode = 25;       // bus 0, 4-byte register addresses
constexpr uint8_t kCompanionAddress = 0x72;
constexpr int kActivationAttempts = 3;

void PutLe32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

int32_t RequestSpiBus(uint8_t flag) {
  return RCSetCommand(UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING, 1, 0, &flag);
}

int32_t WriteFlashOwnerWord(uint32_t value) {
  uint8_t bytes[4];
  PutLe32(bytes, value);
  return RCSetCommand(UPDC_WRITE_TO_MEMORY, 4, kFlashOwnerWord, bytes);
}

int32_t Fail(int32_t result) {
  ktq::ReportMessage("Update FAILED!!\n");
  return result;
}

// Puts the main chip back as it was before the write; failures are only
// logged, the companion still gets its activation.
void RestoreMainChip(uint32_t savedOwnerWord) {
  if (const int32_t r = ktq::EnableRcMode(); !ktq::RcEnableSucceeded(r)) {
    std::printf("RCSetCommand : UPDC_ENABLE_RC FAILED:%X\r\n", r);
  }
  if (const int32_t r = WriteFlashOwnerWord(savedOwnerWord); r != 0) {
    std::printf("RCSetCommand : UPDC_WRITE_TO_MEMORY FAILED:%X\r\n", r);
  }
  if (const int32_t r = RequestSpiBus(0); r != 0) {
    std::printf("RCSetCommand : UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING FAILED:%X\r\n", r);
  }
  if (const int32_t r = ktq::DisableRcMode(); r != 0) {
    std::printf("RCSetCommand : UPDC_DISABLE_RC FAILED:%X\r\n", r);
  }
}

int32_t CompanionSpiBus(uint8_t flag) {
  return RCI2CSetCommand(UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING, 1, 0, &flag);
}

// Runs the companion's part with its register names loaded; the main chip's
// names are loaded again on the way out.
int32_t ActivateCompanion() {
  ktq::ReportMessage("Activating firmware...");
  if (const int32_t r = RCI2CSetCommand(UPDC_ENABLE_RC, kRcCodeWordLength, 0,
                                        reinterpret_cast<const uint8_t*>(kRcCodeWord));
      r != 0) {
    std::printf("RCI2CSetCommand : UPDC_ENABLE_RC FAILED:%X\r\n", r);
  }
  if (const int32_t r = CompanionSpiBus(1); r != 0) {
    std::printf("RCI2CSetCommand : UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING FAILED:%X\r\n", r);
  }
  int32_t activation = -1;
  for (int attempt = 0; attempt < kActivationAttempts && activation != 0; ++attempt) {
    activation = RCI2CSetCommand(UPDC_ACTIVATE_FIRMWARE, 0, 0, nullptr);
  }
  ktq::ReportMessage(activation == 0 ? "OK!\n" : "FAILED!!\n");

  const int32_t release = CompanionSpiBus(0);
  if (release != 0) {
    std::printf("RCI2CSetCommand : UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING FAILED:%X\r\n", release);
  }
  RCI2CSetCommand(UPDC_DISABLE_RC, 0, 0, nullptr);
  LoadRegisterDatabase(static_cast<int32_t>(CurrentChipType()));
  if (release != 0) return Fail(release);
  // The new firmware is written but not running: that is no success, whatever
  // the restore steps did.
  if (activation != 0) return Fail(activation);
  ktq::ReportMessage("Update complete!\n");
  return 0;
}

}  // namespace

int32_t RCCascadeUpdate(const char* path) {
  if (!DeviceHandle()) return -1;
  if (CurrentChipType() != kCascadeChipType) {
    ktq::ReportMessage("This device doesn't support cascade update!!\n");
    return kCascadeRefused;
  }
  ktq::ReportMessage("Start updating RDX4410...\n");

  if (const int32_t r = ktq::EnableRcMode(); !ktq::RcEnableSucceeded(r)) {
    ktq::ReportMessage("Failed to enable RC command!!\n");
    return Fail(r);
  }
  if (const int32_t r = RequestSpiBus(1); r != 0) {
    ktq::ReportMessage("Failed to request 5150 SPI!!\n");
    return Fail(r);
  }
  uint8_t saved[4] = {};  // a failed read leaves 0 to be written back
  RCGetCommand(UPDC_READ_FROM_MEMORY, sizeof saved, kFlashOwnerWord, saved);
  WriteFlashOwnerWord(kFlashOwnerDuringWrite);

  if (const int32_t r = RCWriteFirmwareFile(path); r != 0) return Fail(r);
  RestoreMainChip(static_cast<uint32_t>(saved[0] | (saved[1] << 8) | (saved[2] << 16)) |
                  (static_cast<uint32_t>(saved[3]) << 24));

  I2CMSetTarget(kCompanionMode, kCompanionAddress);
  I2CMSettleSpeed();
  LoadRegisterDatabase(static_cast<int32_t>(kCompanionChipType));
  return ActivateCompanion();
}

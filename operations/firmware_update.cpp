#include "operations/firmware_update.h"

#include <algorithm>
#include <vector>

#include "chipdb/chip_id.h"
#include "device/hid_session.h"
#include "device/rc_command.h"
#include "report/format.h"
#include "report/report_callbacks.h"
#include "operations/c_file.h"
#include "operations/operation_stop.h"
#include "operations/rc_mode.h"

namespace {

constexpr uint32_t kFlashChunkSize = 32;
constexpr uint8_t kEraseFlashPayload[2] = {0xFF, 0xFF};

constexpr int32_t kEraseFailed = 225;       // 0xE1
constexpr int32_t kChunkWriteFailed = 226;  // 0xE2

// Leaves update mode (even when it was never entered) and ends the write
// phase with a failure line.
int32_t FailWritePhase(int32_t result) {
  ktq::DisableRcMode();
  ktq::ReportMessage("\t...FAILED!!\n");
  return result;
}

// The percent reported after a chunk: it runs one chunk ahead of the bytes
// written, so the last two chunks both report 100. Signed 32-bit arithmetic
// as the progress line has always been computed.
uint32_t ProgressAfterChunk(uint32_t newOffset, uint32_t chunkLength, uint32_t imageSize) {
  const int32_t ahead = static_cast<int32_t>(newOffset + chunkLength) * 100;
  return static_cast<uint32_t>(ahead / static_cast<int32_t>(imageSize));
}

// Writes the whole image; 0 or kChunkWriteFailed after reporting the offset.
int32_t WriteImage(const std::vector<uint8_t>& image) {
  const auto imageSize = static_cast<uint32_t>(image.size());
  uint32_t offset = 0;
  for (uint32_t pass = 0; pass < imageSize / kFlashChunkSize; ++pass) {
    const uint32_t length = std::min(kFlashChunkSize, imageSize - offset);
    // A stop requested meanwhile is honoured between chunks, never inside one.
    if (ktq::OperationStopRequested()) {
      ktq::ReportMessage(FormatString("Write flash STOPPED at index: %04x\n", offset).c_str());
      return FailWritePhase(ktq::kOperationStopped);
    }
    if (RCSetCommand(UPDC_WRITE_FLASH, length, offset, image.data() + offset) != 0) {
      ktq::ReportMessage(FormatString("Write flash FAILED at index: %04x\n", offset).c_str());
      return FailWritePhase(kChunkWriteFailed);
    }
    offset += length;
    ktq::ReportProgress(ProgressAfterChunk(offset, length, imageSize));
  }
  ktq::DisableRcMode();
  ktq::ReportMessage("\t...OK!\n");
  return 0;
}

}  // namespace

uint32_t FirmwareImageSize(uint32_t chipType) {
  switch (chipType) {
    case 5: return 0x50000;
    case 6: return 0x7F000;
    default: return 0;
  }
}

int32_t RCUpdateFirmware(const char* path) {
  int32_t result = RCWriteFirmwareFile(path);
  if (result != 0) return result;
  result = RCActivateFirmware();
  ktq::ReportMessage(result == 0 ? "Update complete!\n" : "Update FAILED!!\n");
  return result;
}

int32_t RCWriteFirmwareFile(const char* path) {
  if (!DeviceHandle()) return -1;
  const uint32_t imageSize = FirmwareImageSize(CurrentChipType());
  if (imageSize == 0) return -1;

  // Read only: the image is never written, and images on read-only media,
  // in system folders or of another user must still be usable.
  ktq::CFile file = ktq::OpenCFile(path, "rb");
  if (!file) {
    ktq::ReportMessage("Open file FAILED!!\n");
    return -1;
  }
  std::vector<uint8_t> image(imageSize, 0);

  // The whole image is read before the device is touched, so the write loop
  // does no file access.
  long fileLength = -1;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) fileLength = std::ftell(file.get());
  std::fseek(file.get(), 0, SEEK_SET);
  if (fileLength <= 0) {
    ktq::ReportMessage("Firmware file size ERROR!!\n");
    return FailWritePhase(-1);
  }
  if (std::fread(image.data(), 1, imageSize, file.get()) != imageSize) {
    ktq::ReportMessage("Read file FAILED!!\n");
    return FailWritePhase(-1);
  }

  if (ktq::OperationStopRequested()) return FailWritePhase(ktq::kOperationStopped);
  ktq::ReportMessage("Initializing...");
  if (!ktq::RcEnableSucceeded(ktq::EnableRcMode())) {
    ktq::ReportMessage("FAILED!!\n");
    return FailWritePhase(-1);
  }
  ktq::ReportMessage("OK!\n");

  if (ktq::OperationStopRequested()) return FailWritePhase(ktq::kOperationStopped);
  ktq::ReportMessage("Erasing flash...");
  if (RCSetCommand(UPDC_ERASE_FLASH, sizeof kEraseFlashPayload, 0, kEraseFlashPayload) != 0) {
    ktq::ReportMessage("FAILED!!\n");
    return FailWritePhase(kEraseFailed);
  }
  ktq::ReportMessage("OK!\n");
  ktq::ReportMessage("Updating firmware...\n");
  return WriteImage(image);
}

int32_t RCActivateFirmware() {
  ktq::ReportMessage("Activating firmware...");
  ktq::EnableRcMode();
  const int32_t result = RCSetCommand(UPDC_ACTIVATE_FIRMWARE, 0, 0, nullptr);
  ktq::ReportMessage(result == 0 ? "OK!\n" : "FAILED!!\n");
  ktq::DisableRcMode();
  return result;
}

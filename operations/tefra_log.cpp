#include "operations/tefra_log.h"

#include <array>
#include <cstdio>

#include "device/hid_session.h"
#include "device/rc_command.h"
#include "report/format.h"
#include "report/report_callbacks.h"
#include "operations/c_file.h"

namespace {

constexpr uint32_t kTefraReadSize = 32;
// Byte 2 of a record marks it valid up to this value; records above it are
// read and dropped.
constexpr uint8_t kLastValidMark = 59;

using TefraRecord = std::array<uint8_t, kTefraRecordSize>;

int32_t ReadRecord(TefraRecord& record) {
  record.fill(0);
  return RCGetCommand(UPDC_READ_TEFRA_LOG, kTefraReadSize, 0, record.data());
}

void SendLogControl() {
  RCSetCommand(UPDC_TEFRA_LOG_CONTROL, 0, 0, nullptr);
}

}  // namespace

int32_t RCSaveTefraLog(const char* path, bool sendControl) {
  if (!DeviceHandle()) return -1;
  ktq::CFile file = ktq::OpenCFile(path, "wb");
  if (!file) {
    ktq::ReportMessage("Open file FAILED!!\n");
    return -1;
  }
  ktq::ReportMessage("Save embedded tefra log...");
  if (sendControl) SendLogControl();

  TefraRecord record{};
  bool written = true;
  int32_t result = ReadRecord(record);
  // Reading goes on until the device answers with a non-zero status: the end
  // of the log, a refused read or a lost device.
  while ((result & 0xFF) == 0) {
    if (record[2] <= kLastValidMark) {
      written = std::fwrite(record.data(), 1, record.size(), file.get()) == record.size();
      if (!written) break;
    }
    result = ReadRecord(record);
  }
  if (written) {
    std::printf("%s", FormatString("READ FROM TEFRA failed: %02x\n", result & 0xFF).c_str());
  }
  written = ktq::CloseCFile(file) && written;
  SendLogControl();
  if (!written) {
    // A full disk or a vanished medium must not pass for a complete capture.
    ktq::ReportMessage("Write file FAILED!!\n");
    return -1;
  }
  ktq::ReportMessage("finished.\r\n");
  return 0;
}

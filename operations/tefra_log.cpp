#include "operations/tefra_log.h"

#include <array>
#include <cstdio>

#include "device/hid_session.h"
#include "device/rc_command.h"
#include "report/format.h"
#include "report/report_callbacks.h"
#include "operations/operation_stop.h"
#include "operations/replace_file.h"

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
  ktq::TefraCapture capture;
  return SaveTefraLog(path, sendControl, capture);
}

int32_t SaveTefraLog(const char* path, bool sendControl, ktq::TefraCapture& capture) {
  capture = {};
  if (!DeviceHandle()) return -1;
  // An existing log is replaced only by a complete new one.
  ktq::FileReplacement file;
  if (!file.Open(path)) {
    ktq::ReportMessage("Open file FAILED!!\n");
    return -1;
  }
  ktq::ReportMessage("Save embedded tefra log...");
  if (sendControl) SendLogControl();

  TefraRecord record{};
  bool written = true;
  int32_t result = ReadRecord(record);
  while ((result & 0xFF) == 0 && !ktq::OperationStopRequested()) {
    if (record[2] <= kLastValidMark) {
      written = std::fwrite(record.data(), 1, record.size(), file.File()) == record.size();
      if (!written) break;
      ++capture.records;
    }
    result = ReadRecord(record);
  }
  const bool stopped = (result & 0xFF) == 0;
  if (written && !stopped) {
    std::printf("%s", FormatString("READ FROM TEFRA failed: %02x\n", result & 0xFF).c_str());
  }
  // The log ends when the device answers with a status. A failed transfer
  // (-1, -2), a vanished device or RC mode that could not be enabled (the
  // reads never reached the log) cuts it short: what was read is kept for
  // support, but not passed off as the whole log.
  capture.complete =
      written && !stopped && result > 0 && result != ktq::kStatusRcModeOff && !ktq::DeviceRemoved();
  const std::string keptAs = capture.complete ? std::string(path) : std::string(path) + ktq::kIncompleteLogSuffix;
  written = written && file.CommitAs(keptAs);
  SendLogControl();
  if (!written) {
    // A full disk or a vanished medium must not pass for a complete capture.
    ktq::ReportMessage("Write file FAILED!!\n");
    return -1;
  }
  capture.savedTo = keptAs;
  if (!capture.complete) {
    ktq::ReportMessage(FormatString("Log incomplete: %u record%s saved to %s\n", capture.records,
                                    capture.records == 1 ? "" : "s", keptAs.c_str())
                           .c_str());
    if (stopped) return ktq::kOperationStopped;
    if (result == ktq::kStatusRcModeOff) return result;
    return result < 0 ? result : -1;
  }
  ktq::ReportMessage("finished.\r\n");
  return 0;
}

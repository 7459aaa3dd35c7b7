// Capture of the chip's embedded Tefra debug log into a file.
#pragma once

#include <cstdint>
#include <string>

// Size of one record in the log file: the 32 bytes of one log read followed
// by 36 zero bytes.
constexpr uint32_t kTefraRecordSize = 68;

namespace ktq {

// What one capture produced.
struct TefraCapture {
  uint32_t records = 0;   // records stored
  bool complete = false;  // the device ended the log with a status
  std::string savedTo;    // the file that holds them; empty when none
};

// The suffix of the file that keeps the records of an incomplete capture.
constexpr const char* kIncompleteLogSuffix = ".incomplete";

}  // namespace ktq

// Reads the log record by record and stores the valid records. The log ends
// when the device answers a read with a status: the file then replaces
// `path` (written beside it and renamed) and the result is 0. A read that
// fails on the way (time-out, send failure, removal) or a stop request
// leaves the log incomplete: `path` is left as it was, the records read so
// far go to `path` + kIncompleteLogSuffix, "Log incomplete: ..." is reported
// and the result is the failed read's (negative) or kOperationStopped.
// `sendControl` sends the log-control command before the capture as well as
// after it. -1 when no device is open or the file cannot be created or
// written ("Write file FAILED!!").
int32_t RCSaveTefraLog(const char* path, bool sendControl);
int32_t SaveTefraLog(const char* path, bool sendControl, ktq::TefraCapture& capture);

// Capture of the chip's embedded Tefra debug log into a file.
#pragma once

#include <cstdint>

// Size of one record in the log file: the 32 bytes of one log read followed
// by 36 zero bytes.
constexpr uint32_t kTefraRecordSize = 68;

// Reads the log record by record and stores the valid records in `path`
// (created or truncated). `sendControl` sends the log-control command before
// the capture as well as after it. 0 once the file holds every valid record
// read, -1 when no device is open or the file cannot be created or written
// ("Write file FAILED!!").
int32_t RCSaveTefraLog(const char* path, bool sendControl);

// The RC command set as the converter's firmware defines it: command codes
// and the code word that enables RC command mode. The models use these, never
// the host's constants (device/rc_command.h), so that a wrong code on the host
// side is refused here instead of being mirrored.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktq::sim::rc {

// Every report on the wire: 62 bytes with report ID 1; byte 1 says what the
// report carries.
constexpr size_t kReportSize = 62;
constexpr uint8_t kReportId = 0x01;
constexpr uint8_t kRcReport = 0x00;
constexpr uint8_t kI2cTransactionReport = 0x10;
constexpr uint8_t kI2cSpeedReport = 0x11;

constexpr uint8_t kEnableRc = 0x01;
constexpr uint8_t kDisableRc = 0x02;
constexpr uint8_t kEraseFlash = 0x14;
constexpr uint8_t kActivateFirmware = 0x18;
constexpr uint8_t kSpiBusRequest = 0x1A;
constexpr uint8_t kReadTefraLog = 0x1B;
constexpr uint8_t kTefraLogControl = 0x1D;
constexpr uint8_t kWriteFlash = 0x20;
constexpr uint8_t kWriteToMemory = 0x21;
constexpr uint8_t kReadFromMemory = 0x31;
constexpr uint8_t kReadDpcd = 0x32;  // + transmit port index
constexpr uint8_t kReadEdid = 0x50;  // receive side; 0x51 + i: transmit port i
constexpr uint8_t kReadTiming = 0x7A;

constexpr char kCodeWord[] = {'T', 'A', 'M', 'B', 'O'};
constexpr uint8_t kCodeWordLength = sizeof kCodeWord;

}  // namespace ktq::sim::rc

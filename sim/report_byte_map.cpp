#include "sim/report_byte_map.h"

#include <cstdio>

#include "sim/rc_protocol.h"

namespace ktq::sim {

namespace {

// RC request: 0 report ID, 1 kind, 2 length (n + 12), 3-4 reserved,
// 5 command | 0x80, 6 status, 7-10 address, 11 count, 12-14 reserved,
// 15 ... 14+n payload, 15+n checksum, then zero padding.
constexpr size_t kRcLength = 2;
constexpr size_t kRcCommand = 5;
constexpr size_t kRcStatus = 6;
constexpr size_t kRcAddress = 7;
constexpr size_t kRcCount = 11;
constexpr size_t kRcPayload = 15;
constexpr uint8_t kRcHeaderLength = 12;

// I2C-master transaction: 2 length, 3 bus, 4 segment count, 5 first segment
// length (3 + address width [+ data]), 6 flags, 7 slave, 8... register
// address, then the data (write) or the read segment 03 01 slave|1 count 02.
constexpr size_t kI2cSegmentLength = 5;
constexpr size_t kI2cSegmentStart = 8;
constexpr uint8_t kI2cReadSegments = 2;

struct CommandName {
  uint8_t code;
  const char* name;
};
constexpr CommandName kCommandNames[] = {
    {rc::kEnableRc, "UPDC_ENABLE_RC"},
    {rc::kDisableRc, "UPDC_DISABLE_RC"},
    {rc::kEraseFlash, "UPDC_ERASE_FLASH"},
    {rc::kActivateFirmware, "UPDC_ACTIVATE_FIRMWARE"},
    {rc::kSpiBusRequest, "UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING"},
    {rc::kReadTefraLog, "UPDC_READ_TEFRA_LOG"},
    {rc::kTefraLogControl, "UPDC_TEFRA_LOG_CONTROL"},
    {rc::kWriteFlash, "UPDC_WRITE_FLASH"},
    {rc::kWriteToMemory, "UPDC_WRITE_TO_MEMORY"},
    {rc::kReadFromMemory, "UPDC_READ_FROM_MEMORY"},
    {rc::kReadTiming, "UPDC_READ_TIMING"},
};

std::string CommandName(uint8_t code) {
  for (const auto& c : kCommandNames)
    if (c.code == code) return c.name;
  if (code >= rc::kReadDpcd && code < rc::kReadDpcd + 4) return "UPDC_READ_DPCD TX" + std::to_string(code - rc::kReadDpcd);
  if (code == rc::kReadEdid) return "UPDC_READ_EDID RX";
  if (code > rc::kReadEdid && code <= rc::kReadEdid + 4) return "UPDC_READ_EDID TX" + std::to_string(code - rc::kReadEdid - 1);
  return "unknown command";
}

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

std::string Hex(const char* format, unsigned value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Indexed(const char* field, size_t index) { return std::string(field) + " byte " + std::to_string(index); }

// The payload length an RC request announces, kept inside the report.
size_t RcPayloadLength(const uint8_t* report) {
  const uint8_t length = report[kRcLength];
  const size_t n = length > kRcHeaderLength ? length - kRcHeaderLength : 0;
  return n < rc::kReportSize - kRcPayload ? n : rc::kReportSize - kRcPayload - 1;
}

std::string RcByteMeaning(const uint8_t* report, size_t index) {
  const size_t n = RcPayloadLength(report);
  if (index == kRcLength) return "length";
  if (index == kRcCommand) return "command";
  if (index == kRcStatus) return "status";
  if (index >= kRcAddress && index < kRcCount) return Indexed("address", index - kRcAddress);
  if (index == kRcCount) return "count";
  if (index < kRcPayload) return "reserved";
  if (index < kRcPayload + n) return Indexed("payload", index - kRcPayload);
  if (index == kRcPayload + n) return "checksum";
  return "padding";
}

bool IsI2cRead(const uint8_t* report) { return report[4] == kI2cReadSegments; }

std::string I2cByteMeaning(const uint8_t* report, size_t index) {
  static const char* const kHead[] = {"report ID", "kind", "length", "bus", "segment count",
                                      "first segment length", "first segment flags", "slave address"};
  if (index < kI2cSegmentStart) return kHead[index];
  const size_t segment = report[kI2cSegmentLength];
  const size_t firstEnd = segment >= 3 ? kI2cSegmentStart + segment - 3 : kI2cSegmentStart;
  if (IsI2cRead(report)) {
    if (index < firstEnd) return Indexed("register address", index - kI2cSegmentStart);
    static const char* const kReadSegment[] = {"second segment length", "second segment flags", "slave read address",
                                               "read count", "end marker"};
    if (index - firstEnd < 5) return kReadSegment[index - firstEnd];
    return "padding";
  }
  // A write's one segment holds the register address and the data after it;
  // how they split depends on the target's address width.
  if (index < firstEnd) return Indexed("register address and data", index - kI2cSegmentStart);
  return "padding";
}

std::string SpeedByteMeaning(size_t index) {
  static const char* const kSpeed[] = {"report ID", "kind", "length", "bus", "speed low byte", "speed high byte",
                                       "checksum"};
  return index < 7 ? kSpeed[index] : "padding";
}

}  // namespace

std::string DescribeRequest(const uint8_t* report) {
  switch (report[1]) {
    case rc::kRcReport: {
      const uint8_t code = report[kRcCommand] & 0x7F;
      return CommandName(code) + Hex(" (0x%02X)", code) + Hex(" at 0x%08X", Le32(report + kRcAddress)) + ", " +
             std::to_string(report[kRcCount]) + " bytes";
    }
    case rc::kI2cTransactionReport: {
      const uint8_t slave = report[7];
      if (IsI2cRead(report)) {
        const size_t width = report[kI2cSegmentLength] >= 3 ? report[kI2cSegmentLength] - 3u : 0u;
        const size_t countAt = kI2cSegmentStart + width + 3;
        const unsigned count = countAt < rc::kReportSize ? report[countAt] : 0;
        const uint32_t address = width == 4 ? Le32(report + kI2cSegmentStart) : report[kI2cSegmentStart];
        return "I2C-master read on bus " + std::to_string(report[3]) + Hex(" from slave 0x%02X", slave) +
               Hex(", register 0x%08X", address) + ", " + std::to_string(count) + " bytes";
      }
      return "I2C-master write on bus " + std::to_string(report[3]) + Hex(" to slave 0x%02X", slave) +
             (report[kI2cSegmentLength] >= 7 ? Hex(", register 0x%08X", Le32(report + kI2cSegmentStart)) : "") +
             ", segment of " + std::to_string(report[kI2cSegmentLength]) + " bytes";
    }
    case rc::kI2cSpeedReport:
      return "I2C-master speed on bus " + std::to_string(report[3]) + ", " +
             std::to_string(report[4] | report[5] << 8) + " kHz";
    default:
      return Hex("unknown report kind 0x%02X", report[1]);
  }
}

std::string ByteMeaning(const uint8_t* report, size_t index) {
  if (index == 0) return "report ID";
  if (index == 1) return "kind";
  switch (report[1]) {
    case rc::kRcReport: return RcByteMeaning(report, index);
    case rc::kI2cTransactionReport: return I2cByteMeaning(report, index);
    case rc::kI2cSpeedReport: return SpeedByteMeaning(index);
    default: return "byte " + std::to_string(index);
  }
}

}  // namespace ktq::sim

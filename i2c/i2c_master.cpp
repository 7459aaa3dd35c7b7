#include "i2c/i2c_master.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include <thread>

#include "chipdb/register_db.h"
#include "device/hid_session.h"
#include "device/rc_command.h"
#include "device/rc_timing.h"

namespace {

using Report = std::array<uint8_t, ktq::kReportSize>;

constexpr uint8_t kI2CTransaction = 0x10;
constexpr uint8_t kI2CSpeed = 0x11;
constexpr uint8_t kStateRunning = 1;
constexpr uint8_t kStateDone = 2;
// Fetches of a running transaction between two 1 ms pauses.
constexpr uint32_t kFetchesPerPause = 101;

// Mailbox: the pending flag of the command word, the trigger value and the
// bytes of one mailbox chunk.
constexpr uint32_t kMailboxPending = 1u << 23;
constexpr uint32_t kMailboxTrigger = 0xF2;
constexpr uint32_t kMailboxChunk = 32;
constexpr uint8_t kStatusRcModeOff = 4;

constexpr uint16_t kCandidateSpeeds[] = {1000, 800, 600, 400, 300, 200, 100};
constexpr uint32_t kSpeedPatternWords = 16;
constexpr uint32_t kSpeedPatternKey = 0x50FA3C2D;

struct I2CMState {
  uint8_t mode = 0;
  uint8_t slaveAddress = 0;
  uint16_t speedKhz = 0;
};
I2CMState state;

// Waits through the RC layer's timing, so tests replace clock and sleep once
// for both layers.
using ktq::Pause;

bool ReplyBudgetSpent(ktq::RcClock::time_point start) {
  const ktq::RcTiming& timing = ktq::CurrentRcTiming();
  return timing.now() - start >= timing.replyBudget;
}

void PutLe32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLe32(const uint8_t* in) {
  return in[0] | (in[1] << 8) | (in[2] << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

// Builds the transaction report. The register address is sent in the width
// the mode asks for, low byte first.
Report BuildTransaction(const I2CMRequest& request, const uint8_t* writeData) {
  const I2CMModeLayout layout = I2CMLayoutOfMode(request.mode);
  const uint8_t w = layout.addressWidth;
  Report report{};
  report[0] = ktq::kReportId;
  report[1] = kI2CTransaction;
  report[3] = layout.bus;
  report[7] = request.slaveAddress;
  for (uint8_t i = 0; i < w; ++i) report[8 + i] = static_cast<uint8_t>(request.registerAddress >> (8 * i));
  if (request.direction == 1) {
    const auto n = static_cast<uint8_t>(request.writeLength);
    report[2] = static_cast<uint8_t>(5 + w + n);
    report[4] = 1;                               // one segment
    report[5] = static_cast<uint8_t>(3 + w + n);  // its length
    report[6] = 3;                               // write segment
    if (n > 0) std::memcpy(&report[8 + w], writeData, n);
  } else {
    report[2] = 14;
    report[4] = 2;  // address segment, then the read segment
    report[5] = static_cast<uint8_t>(3 + w);
    report[6] = 1;
    uint8_t* read = &report[8 + w];
    read[0] = 3;
    read[1] = 1;
    read[2] = request.slaveAddress | 1;
    read[3] = static_cast<uint8_t>(request.readLength);
    read[4] = 2;
  }
  return report;
}

int32_t Transfer(uint32_t address, uint32_t length, uint8_t* data, uint8_t direction) {
  I2CMRequest request;
  request.mode = state.mode;
  request.direction = direction;
  request.slaveAddress = state.slaveAddress;
  request.registerAddress = address;
  (direction == 1 ? request.writeLength : request.readLength) = length;
  return I2CM_RC_USB(data, request);
}

int32_t WriteWord(uint32_t address, uint32_t value) {
  uint8_t bytes[4];
  PutLe32(bytes, value);
  return I2CMWrite(address, 4, bytes);
}

int32_t EnableCompanionRc() {
  return RCI2CSetCommand(UPDC_ENABLE_RC, kRcCodeWordLength, 0,
                         reinterpret_cast<const uint8_t*>(kRcCodeWord));
}

enum class ChunkOutcome { kFinished, kRetriggered, kFailed };

// Hands one chunk to the MCU and waits for it; `status` receives the MCU's
// status byte, or the call's result when the outcome is kFailed.
ChunkOutcome RunMailboxChunk(uint32_t commandWord, uint32_t address, const uint8_t* data, uint32_t n,
                             bool alreadyRetriggered, int32_t& status) {
  const uint32_t spad0 = GetRegisterAddress("CORE_MCU_SPAD0");
  const uint32_t spad4 = GetRegisterAddress("CORE_MCU_SPAD4");
  const uint32_t swInterrupt = GetRegisterAddress("CORE_MCU_SW_INTERRUPT");

  if (n > 0) {
    // The scratch pads are written in whole words.
    uint8_t padded[kMailboxChunk] = {};
    std::memcpy(padded, data, n);
    const int32_t r = I2CMWrite(spad4, (n + 3) & 0x7C, padded);
    if (r != 0) {
      std::printf("Write data register failed: %d\r\n", r);
      status = r;
      return ChunkOutcome::kFailed;
    }
  }
  uint8_t header[12];
  PutLe32(header, commandWord);
  PutLe32(header + 4, address);
  PutLe32(header + 8, n);
  if (const int32_t r = I2CMWrite(spad0, sizeof header, header); r != 0) {
    std::printf("Write offset and length register failed: %d\r\n", r);
    status = r;
    return ChunkOutcome::kFailed;
  }
  if (const int32_t r = WriteWord(swInterrupt, kMailboxTrigger); r != 0) {
    std::printf("Write command register failed\r");
    status = r;
    return ChunkOutcome::kFailed;
  }

  const auto start = ktq::CurrentRcTiming().now();
  for (;;) {
    uint8_t word[4] = {};
    if (const int32_t r = I2CMRead(spad0, 4, word); r != 0) {
      status = r;
      return ChunkOutcome::kFailed;
    }
    const uint32_t statusWord = GetLe32(word);
    if ((statusWord & kMailboxPending) == 0) {
      status = static_cast<int32_t>(statusWord >> 24);
      return ChunkOutcome::kFinished;
    }
    if (!ReplyBudgetSpent(start)) continue;

    uint8_t interrupt[4] = {};
    if (const int32_t r = I2CMRead(swInterrupt, 4, interrupt); r != 0) {
      // Unknown whether the MCU took the command: no retrigger on a guess.
      status = r;
      return ChunkOutcome::kFailed;
    }
    if (GetLe32(interrupt) != 0) {
      status = 2;
      return ChunkOutcome::kFailed;
    }
    if (alreadyRetriggered) {
      std::printf("Already retry on other registers\r");
      status = 3;
      return ChunkOutcome::kFailed;
    }
    std::printf("Retry to trigger the register again\r");
    if (const int32_t r = WriteWord(swInterrupt, kMailboxTrigger); r != 0) {
      std::printf("Write command register failed\r");
      status = r;
      return ChunkOutcome::kFailed;
    }
    // The MCU had not seen the first trigger; the chunk is taken as done.
    status = 0;
    return ChunkOutcome::kRetriggered;
  }
}

}  // namespace

I2CMModeLayout I2CMLayoutOfMode(uint8_t mode) {
  switch (mode) {
    case 16: return {0, 1};
    case 17: return {0, 2};
    case 18: return {1, 1};
    case 19: return {1, 2};
    case 20: return {2, 1};
    case 21: return {2, 2};
    case 26: return {1, 4};
    case 27: return {2, 4};
    default: return {0, 4};  // 22 to 25 and anything else
  }
}

int32_t I2CMSetTarget(uint8_t mode, uint8_t slaveAddress) {
  state.mode = mode;
  state.slaveAddress = slaveAddress;
  return 0;
}

uint16_t I2CMSpeedKhz() {
  return state.speedKhz;
}

void I2CMSetSpeed(uint8_t bus, uint16_t speedKhz) {
  hid_device* device = DeviceHandle();
  if (!device) return;
  Report report{};
  report[0] = ktq::kReportId;
  report[1] = kI2CSpeed;
  report[2] = 3;
  report[3] = bus;
  report[4] = static_cast<uint8_t>(speedKhz);
  report[5] = static_cast<uint8_t>(speedKhz >> 8);
  uint8_t sum = 0;
  for (int i = 1; i <= 5; ++i) sum = static_cast<uint8_t>(sum + report[i]);
  report[6] = static_cast<uint8_t>(-sum);
  ktq::SendOutputReport(device, report.data());  // the speed report has no reply
}

void I2CMSettleSpeed() {
  state.speedKhz = 0;
  const uint8_t bus = I2CMLayoutOfMode(state.mode).bus;
  const uint32_t spad0 = GetRegisterAddress("CORE_MCU_SPAD0");
  uint8_t pattern[kSpeedPatternWords * 4];
  for (uint32_t i = 0; i < kSpeedPatternWords; ++i) PutLe32(pattern + 4 * i, i ^ kSpeedPatternKey);

  for (const uint16_t speed : kCandidateSpeeds) {
    I2CMSetSpeed(bus, speed);
    uint8_t echo[sizeof pattern] = {};
    if (I2CMWrite(spad0, sizeof pattern, pattern) == 0 && I2CMRead(spad0, sizeof echo, echo) == 0 &&
        std::memcmp(pattern, echo, sizeof pattern) == 0) {
      std::printf("I2CM speed settled at %dKhz\n", speed);
      state.speedKhz = speed;
      return;
    }
  }
  std::printf("Can't find proper I2C speed");
}

int32_t I2CM_RC_USB(uint8_t* data, const I2CMRequest& request) {
  hid_device* device = DeviceHandle();
  if (!device) return kI2CMNoDevice;
  const bool isWrite = request.direction == 1;
  const uint32_t n = isWrite ? request.writeLength : request.readLength;
  // A report has room for 16 data bytes; larger requests are the caller's
  // fault and are refused rather than overrunning the report.
  if (n > kI2CMMaxTransfer || (n > 0 && data == nullptr)) return -1;

  Report report = BuildTransaction(request, data);
  if (ktq::SendOutputReport(device, report.data()) <= 0) {
    std::printf("I2CM_RC_USB: Usb2 set output report failed \r");
    return kI2CMNoDevice;
  }

  const auto start = ktq::CurrentRcTiming().now();
  for (uint32_t fetches = 1;; ++fetches) {
    report.fill(0);
    report[0] = ktq::kReportId;
    if (ktq::FetchInputReport(device, report.data()) <= 0) return kI2CMNoDevice;
    if (report[1] != kI2CTransaction || report[3] != kStateRunning) break;
    if (ReplyBudgetSpent(start)) return -1;
    if (fetches % kFetchesPerPause == 0) Pause(std::chrono::milliseconds(1));
  }

  if (report[1] != kI2CTransaction || report[3] != kStateDone) {
    std::printf("Invalid I2CM reply packet: %02x %02x\r\n", report[3], report[1]);
    return kI2CMInvalidReply;
  }
  if (report[4] != 0) return report[4];
  if (!isWrite && n > 0) std::memcpy(data, &report[6], n);
  return 0;
}

int32_t I2CMRead(uint32_t address, uint32_t length, uint8_t* dest) {
  if (length > 0 && dest == nullptr) return -1;
  if (address == 0) {
    if (length > 0) std::memset(dest, 0, length);
    return 1;
  }
  while (length > 0) {
    const uint32_t n = std::min(length, kI2CMMaxTransfer);
    int32_t r = Transfer(address, n, dest, 0);
    // A failed read is repeated once, but only on a bus whose speed is known
    // to work; while the speed is being searched a failure means "too fast".
    if (r != 0 && state.speedKhz != 0) {
      std::printf("I2C operation error: %d, retry one more time\r\n", r);
      r = Transfer(address, n, dest, 0);
    }
    if (r != 0) return r;
    dest += n;
    address += n;
    length -= n;
  }
  return 0;
}

int32_t I2CMWrite(uint32_t address, uint32_t length, const uint8_t* data) {
  if (address == 0) return 1;
  if (length > 0 && data == nullptr) return -1;
  while (length > 0) {
    const uint32_t n = std::min(length, kI2CMMaxTransfer);
    // The transaction only reads from the buffer when writing.
    if (const int32_t r = Transfer(address, n, const_cast<uint8_t*>(data), 1); r != 0) return r;
    data += n;
    address += n;
    length -= n;
  }
  return 0;
}

int32_t RCI2CSetCommand(uint8_t command, uint32_t length, uint32_t address, const uint8_t* data) {
  if (!DeviceHandle()) {
    std::printf("HID device handle not found!! You should call RCInit() and RCEnumAndOpenDevice()/RCOpenDevice() first.\r");
    return -2;
  }
  if (length > 0 && data == nullptr) return -1;
  const uint32_t commandWord = static_cast<uint32_t>(command | 0x80) << 16;
  bool retriggered = false;
  int reenables = 0;
  while (true) {
    const uint32_t n = std::min(length, kMailboxChunk);
    int32_t status = 0;
    switch (RunMailboxChunk(commandWord, address, data, n, retriggered, status)) {
      case ChunkOutcome::kFailed: return status;
      case ChunkOutcome::kRetriggered: retriggered = true; break;
      case ChunkOutcome::kFinished: break;
    }
    if (status == kStatusRcModeOff) {
      // A refused enable has nothing left to try (and must not enable
      // itself again); a chunk is repeated after at most
      // kMaxReenablesPerChunk re-enables, as in the RC command layer.
      if (command == UPDC_ENABLE_RC || reenables >= ktq::kMaxReenablesPerChunk) return kStatusRcModeOff;
      ++reenables;
      EnableCompanionRc();
      if (retriggered) return kStatusRcModeOff;
      continue;  // the same chunk again
    }
    if (status != 0) return status;
    reenables = 0;
    if (data != nullptr) data += n;
    address += n;
    length -= n;
    if (length == 0) return 0;
  }
}

// RC request/reply exchange. Byte map of a request (62-byte output report):
//   0     report ID 0x01
//   1     0x00 (RC command; 0x10/0x11 are I2C-master reports)
//   2     length: n + 12 for a write, 12 for a read
//   3-4   0
//   5     command code | 0x80 (request pending)
//   6     status, 0 in a request
//   7-10  chip address, little-endian
//   11    count: n for a write, bytes wanted for a read
//   12-14 0
//   15..  payload (writes), then the checksum: the two's complement of the
//         8-bit sum of bytes 2 up to the last payload byte
// The reply is fetched into the same buffer: byte 5 bit 7 set while the
// device works, byte 6 the status, bytes 15.. the data of a read (taken from
// a second input report).
#include "device/rc_command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "device/hid_session.h"
#include "device/rc_timing.h"

namespace {

constexpr uint32_t kChunkSize = 32;
constexpr uint8_t kHeaderLength = 12;
constexpr size_t kPayloadOffset = 15;
constexpr uint8_t kPendingBit = 0x80;
// A write of 0xF5 here restarts the chip, which then sends no reply.
constexpr uint32_t kRestartAddress = 0x2000FC;
constexpr uint8_t kRestartByte = 0xF5;

// Shortest fetch that carries the completion bit and the status.
constexpr int kMinReplyLength = 7;

ktq::RcTiming timing;

using ktq::Pause;
using ktq::kStatusRcModeOff;

void BuildRequest(uint8_t* report, uint8_t command, uint8_t lengthByte, uint32_t address, uint8_t count,
                  const uint8_t* payload, uint32_t payloadLength) {
  std::memset(report, 0, ktq::kReportSize);
  report[0] = ktq::kReportId;
  report[2] = lengthByte;
  report[5] = command | kPendingBit;
  report[7] = static_cast<uint8_t>(address);
  report[8] = static_cast<uint8_t>(address >> 8);
  report[9] = static_cast<uint8_t>(address >> 16);
  report[10] = static_cast<uint8_t>(address >> 24);
  report[11] = count;
  if (payloadLength) std::memcpy(report + kPayloadOffset, payload, payloadLength);
  const size_t checksumAt = kPayloadOffset + payloadLength;
  uint8_t sum = 0;
  for (size_t i = 2; i < checksumAt; ++i) sum = static_cast<uint8_t>(sum + report[i]);
  report[checksumAt] = static_cast<uint8_t>(-sum);
}

// Polls until the reply to the last request is complete. A pending reply is
// fetched again at once; a failed fetch pauses first. False when the budget
// is spent or the device has gone away.
bool WaitForReply(hid_device* device, uint8_t* report, uint8_t command) {
  const bool erase = command == UPDC_ERASE_FLASH;
  const auto budget = erase ? timing.eraseBudget : timing.replyBudget;
  const auto start = timing.now();
  for (;;) {
    if (erase) Pause(timing.erasePollPause);
    report[0] = ktq::kReportId;
    const int got = ktq::FetchInputReport(device, report);
    if (got >= kMinReplyLength && !(report[5] & kPendingBit)) return true;
    if (got < kMinReplyLength) {
      if (ktq::DeviceRemoved()) return false;
      Pause(timing.failedFetchPause);
    }
    if (timing.now() - start >= budget) return false;
  }
}

int32_t EnableRcMode() {
  return RCSetCommand(UPDC_ENABLE_RC, kRcCodeWordLength, 0, reinterpret_cast<const uint8_t*>(kRcCodeWord));
}

// Status 4 on a command other than the enable: enable RC mode and let the
// caller repeat the chunk, at most kMaxReenablesPerChunk times per chunk.
// True when the chunk should be sent again.
bool RepairRcMode(uint8_t command, int& reenables) {
  if (command == UPDC_ENABLE_RC || reenables >= ktq::kMaxReenablesPerChunk) return false;
  ++reenables;
  return EnableRcMode() == 0;
}

// Sends one chunk's request and waits for its reply, repeating the request
// after a successful status-4 repair. 0 with the completed reply in `report`;
// -1 when the request cannot be sent or no reply completes; else the status
// to hand to the caller. With `expectReply` false, 0 as soon as it is sent.
int32_t ExchangeChunk(hid_device* device, uint8_t command, const uint8_t* request, uint8_t* report,
                      const char* sendFailure, bool expectReply = true) {
  int reenables = 0;
  for (;;) {
    std::memcpy(report, request, ktq::kReportSize);
    if (ktq::SendOutputReport(device, report) <= 0) {
      std::fputs(sendFailure, stdout);
      return -1;
    }
    if (!expectReply) return 0;
    if (!WaitForReply(device, report, command)) return -1;
    const uint8_t status = report[6];
    if (status == kStatusRcModeOff && RepairRcMode(command, reenables)) continue;
    return status;
  }
}

}  // namespace

namespace {

ktq::RcCallWatch* activeWatch = nullptr;

// The watch's verdict before a call: false when it has given up on the device.
bool WatchAllowsCall() { return !activeWatch || !activeWatch->GaveUp(); }

int32_t Watched(uint8_t command, int32_t result) {
  if (activeWatch) activeWatch->Record(command, result);
  return result;
}

int32_t SetCommand(uint8_t command, uint32_t length, uint32_t address, const uint8_t* data) {
  hid_device* device = DeviceHandle();
  if (!device) return -2;
  if (length && !data) return -1;
  uint32_t remaining = length;
  size_t position = 0;
  do {
    const uint32_t n = std::min(remaining, kChunkSize);
    const uint8_t* chunk = n ? data + position : nullptr;
    uint8_t request[ktq::kReportSize];
    uint8_t report[ktq::kReportSize];
    BuildRequest(request, command, static_cast<uint8_t>(n + kHeaderLength), address, static_cast<uint8_t>(n), chunk,
                 n);
    // The chip restarts without answering; the request has gone out.
    const bool restart = address == kRestartAddress && n > 0 && chunk[0] == kRestartByte;
    const int32_t result =
        ExchangeChunk(device, command, request, report, "RCSetCommand : Usb2 set output report failed\r", !restart);
    if (result != 0 || restart) return result;
    address += n;
    position += n;
    remaining -= n;
  } while (remaining > 0);
  return 0;
}

int32_t GetCommand(uint8_t command, uint32_t length, uint32_t address, uint8_t* dest) {
  hid_device* device = DeviceHandle();
  if (!device) return -2;
  if (length == 0 || !dest) return -1;
  uint32_t remaining = length;
  while (remaining > 0) {
    const uint32_t n = std::min(remaining, kChunkSize);
    uint8_t request[ktq::kReportSize];
    uint8_t report[ktq::kReportSize];
    BuildRequest(request, command, kHeaderLength, address, static_cast<uint8_t>(n), nullptr, 0);
    const int32_t result =
        ExchangeChunk(device, command, request, report, "RCGetCommand : Usb2 set output report failed:\r");
    if (result != 0) return result;
    // The data comes in a second input report.
    report[0] = ktq::kReportId;
    if (ktq::FetchInputReport(device, report) < static_cast<int>(kPayloadOffset + n)) {
      std::fputs("Get Input Report failed\r", stdout);
      return -1;
    }
    std::memcpy(dest, report + kPayloadOffset, n);
    address += n;
    dest += n;
    remaining -= n;
  }
  return 0;
}

}  // namespace

int32_t RCSetCommand(uint8_t command, uint32_t length, uint32_t address, const uint8_t* data) {
  if (!WatchAllowsCall()) return -1;
  return Watched(command, SetCommand(command, length, address, data));
}

int32_t RCGetCommand(uint8_t command, uint32_t length, uint32_t address, uint8_t* dest) {
  if (!WatchAllowsCall()) return -1;
  return Watched(command, GetCommand(command, length, address, dest));
}

namespace ktq {

RcCallWatch::RcCallWatch(int giveUpAfter) : giveUpAfter_(giveUpAfter), outer_(activeWatch) { activeWatch = this; }
RcCallWatch::~RcCallWatch() { activeWatch = outer_; }

void RcCallWatch::Record(uint8_t command, int32_t result) {
  if (result == 0) {
    unansweredInARow_ = 0;
  } else if (result > 0) {
    ++refused_;
    if (command == UPDC_READ_FROM_MEMORY) ++refusedMemoryReads_;
    if (command >= UPDC_READ_EDID && command < UPDC_READ_TIMING) ++refusedEdidReads_;
    unansweredInARow_ = 0;
  } else {
    ++unanswered_;
    if (++unansweredInARow_ >= giveUpAfter_) gaveUp_ = true;
  }
}

}  // namespace ktq

int32_t RCReadRegister(uint32_t address, uint32_t length, uint8_t* dest) {
  if (address == 0) {
    if (dest && length) std::memset(dest, 0, length);
    return 1;
  }
  return RCGetCommand(UPDC_READ_FROM_MEMORY, length, address, dest);
}

int32_t RCWriteRegister(uint32_t address, uint32_t length, const uint8_t* data) {
  if (address == 0) return 1;
  return RCSetCommand(UPDC_WRITE_TO_MEMORY, length, address, data);
}

namespace ktq {

void SetRcTiming(const RcTiming& t) { timing = t; }

void Pause(std::chrono::microseconds duration) {
  if (timing.sleep)
    timing.sleep(duration);
  else
    std::this_thread::sleep_for(duration);
}

const RcTiming& CurrentRcTiming() { return timing; }

}  // namespace ktq

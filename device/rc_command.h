// RC command packets: the request/reply exchange with the converter's MCU.
#pragma once

#include <cstdint>

// Command codes (sent in byte 5 with bit 7 set).
constexpr uint8_t UPDC_ENABLE_RC = 0x01;
constexpr uint8_t UPDC_DISABLE_RC = 0x02;
constexpr uint8_t UPDC_ERASE_FLASH = 0x14;
constexpr uint8_t UPDC_ACTIVATE_FIRMWARE = 0x18;
constexpr uint8_t UPDC_SPI_BUS_REQUEST_FOR_FLASH_SHARING = 0x1A;
constexpr uint8_t UPDC_READ_TEFRA_LOG = 0x1B;
constexpr uint8_t UPDC_TEFRA_LOG_CONTROL = 0x1D;
constexpr uint8_t UPDC_WRITE_FLASH = 0x20;
constexpr uint8_t UPDC_WRITE_TO_MEMORY = 0x21;
constexpr uint8_t UPDC_READ_FROM_MEMORY = 0x31;
constexpr uint8_t UPDC_READ_DPCD = 0x32;  // + transmit port index
constexpr uint8_t UPDC_READ_EDID = 0x50;  // receive side; 0x51 + i: transmit port i
constexpr uint8_t UPDC_READ_TIMING = 0x7A;

// The code word that UPDC_ENABLE_RC carries.
inline constexpr char kRcCodeWord[] = "TAMBO";
constexpr uint32_t kRcCodeWordLength = 5;

// Host to device: `length` bytes of `data` to consecutive addresses from
// `address`, 32 bytes per request. Length 0 sends one request without payload.
int32_t RCSetCommand(uint8_t command, uint32_t length, uint32_t address, const uint8_t* data);

// Device to host: `length` bytes from consecutive addresses into `dest`.
int32_t RCGetCommand(uint8_t command, uint32_t length, uint32_t address, uint8_t* dest);

// UPDC_READ_FROM_MEMORY / UPDC_WRITE_TO_MEMORY; address 0 sends nothing and
// returns 1 (a read zero-fills `dest`).
int32_t RCReadRegister(uint32_t address, uint32_t length, uint8_t* dest);
int32_t RCWriteRegister(uint32_t address, uint32_t length, const uint8_t* data);

namespace ktq {

// The device's status for a command sent while RC command mode is off; the
// RC calls repair it once and return it when the mode cannot be enabled.
constexpr uint8_t kStatusRcModeOff = 4;

// Watches the RC calls (RCSetCommand, RCGetCommand and what is built on them)
// of one long run of reads such as the diagnostic dump, on that run's thread.
// It counts the calls the device refused with a status and those it never
// answered (time-out, failed transfer, no device). After `giveUpAfter`
// unanswered calls in a row the device counts as gone: every later call
// fails at once with -1 instead of waiting out its own reply budget, so a
// converter that stops answering ends the run in seconds, not hours.
// Watches nest; the innermost one is active until it is destroyed.
class RcCallWatch {
 public:
  explicit RcCallWatch(int giveUpAfter);
  ~RcCallWatch();
  RcCallWatch(const RcCallWatch&) = delete;
  RcCallWatch& operator=(const RcCallWatch&) = delete;

  void Record(uint8_t command, int32_t result);
  int Refused() const { return refused_; }
  // Refused UPDC_READ_FROM_MEMORY calls: a healthy chip answers every read of
  // its registers and memory, unlike, say, the timing record of a port
  // without a sink.
  int RefusedMemoryReads() const { return refusedMemoryReads_; }
  // Refused EDID reads: the reader asks only for EDIDs that are there (the
  // chip's own, and those of outputs whose sink asserts hot-plug).
  int RefusedEdidReads() const { return refusedEdidReads_; }
  int Unanswered() const { return unanswered_; }
  bool GaveUp() const { return gaveUp_; }

 private:
  int giveUpAfter_;
  RcCallWatch* outer_;
  int refused_ = 0;
  int refusedMemoryReads_ = 0;
  int refusedEdidReads_ = 0;
  int unanswered_ = 0;
  int unansweredInARow_ = 0;
  bool gaveUp_ = false;
};

}  // namespace ktq

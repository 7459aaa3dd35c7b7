// The RDX4410 companion chip as the virtual converter models it: an I2C slave
// with 4-byte register addresses whose registers are placed from a type-4
// register map (read with the map parser), and a mailbox MCU that runs the
// RC command in its scratch pads when 0xF2 is written to its software
// interrupt register: RC mode (status 4 until enabled), its side of the
// shared SPI flash bus, firmware activation.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ktq::sim {

// Converter section "rdx4410" (see docs/simulator.md).
struct Rdx4410Config {
  uint8_t bus = 0;
  uint8_t slaveAddress = 0x72;  // 8-bit form
  std::string mapFile;          // type-4 map source
  uint16_t maxSpeedKhz = 400;   // transfers at higher bus speeds break up
  bool silent = false;          // acknowledges nothing: a missing or dead chip
  uint32_t mcuPendingReads = 0; // reads of the command word that still show it pending
  uint32_t missedTriggers = 0;  // triggers the MCU loses (interrupt cleared, command left pending)
  bool mcuHung = false;         // the MCU never takes a trigger (the interrupt stays set)
  bool enableIgnored = false;   // UPDC_ENABLE_RC answers 0 but RC mode stays off
  uint8_t enableStatus = 0;     // status UPDC_ENABLE_RC answers (RC mode comes on all the same)
  uint32_t failActivations = 0; // activations refused before one succeeds
  uint8_t failActivationStatus = 0x03;
};

// I2C results of the slave side (byte 4 of the I2C-master reply).
constexpr uint8_t kI2CResultNack = 0x02;         // no slave acknowledged the address
constexpr uint8_t kI2CResultBusError = 0x03;     // the transfer broke up (bus too fast)
constexpr uint8_t kI2CResultBadRegister = 0x04;  // register address the slave does not decode

// MCU statuses besides 0 and 4.
constexpr uint8_t kMcuStatusBusNotHeld = 0x05;  // the shared SPI bus is not (or cannot be) held
constexpr uint8_t kMcuStatusBadRequest = 0x07;  // malformed mailbox command

class Rdx4410Model {
 public:
  // Throws std::runtime_error when the map cannot be read or lacks the
  // mailbox. `mainHoldsSpiBus` tells whether the main chip holds the shared
  // SPI flash bus; the RDX4410 cannot take it meanwhile.
  Rdx4410Model(Rdx4410Config config, const bool* mainHoldsSpiBus);

  const Rdx4410Config& config() const { return config_; }

  // The bytes of a write segment after the slave address: the register
  // address, then the data. 0 or an I2C result.
  uint8_t Write(const uint8_t* bytes, uint32_t count);
  // A read of `count` bytes at the register address in `addressBytes`.
  uint8_t Read(const uint8_t* addressBytes, uint32_t addressCount, uint8_t* out, uint32_t count);

  bool activated() const { return activations_ > 0; }
  uint32_t activations() const { return activations_; }
  uint32_t activationAttempts() const { return activationAttempts_; }
  bool rcMode() const { return rcMode_; }
  bool holdsSpiBus() const { return holdsSpiBus_; }
  // The mailbox commands the MCU ran, in order (command codes).
  const std::vector<uint8_t>& commandsRun() const { return commandsRun_; }
  // Bytes the MCU stored with UPDC_WRITE_TO_MEMORY, by address.
  const std::map<uint32_t, uint8_t>& dataMemory() const { return dataMemory_; }

  // The state a run can be checked by from outside, as JSON text.
  std::string StateJson() const;

 private:
  bool Decoded(uint32_t address) const;
  uint32_t Word(uint32_t address) const;
  void SetWord(uint32_t address, uint32_t value);
  void Trigger();
  uint8_t Execute(uint8_t code, uint32_t address, uint32_t count, const uint8_t* data);

  Rdx4410Config config_;
  const bool* mainHoldsSpiBus_;
  std::map<uint32_t, uint32_t> words_;  // by word address; the decoded registers only
  std::map<uint32_t, uint8_t> dataMemory_;
  uint32_t spad0_ = 0;
  uint32_t spad4_ = 0;
  uint32_t swInterrupt_ = 0;
  uint32_t pendingReadsLeft_ = 0;
  uint32_t deferredResult_ = 0;
  uint32_t missedTriggersLeft_ = 0;
  uint32_t failActivationsLeft_ = 0;
  bool rcMode_ = false;
  bool holdsSpiBus_ = false;
  uint32_t activations_ = 0;
  uint32_t activationAttempts_ = 0;
  std::vector<uint8_t> commandsRun_;
};

}  // namespace ktq::sim

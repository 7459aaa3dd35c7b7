// The converter chip as I2C master on the host's behalf, and RC commands to a
// companion chip's microcontroller through its mailbox registers.
#pragma once

#include <cstdint>

// Parameters of one I2C-master transaction.
struct I2CMRequest {
  uint8_t mode = 0;          // target mode: selects the bus and the register address width
  uint8_t direction = 0;     // 1 = write, 0 = read
  uint8_t slaveAddress = 0;  // 8-bit form, bit 0 = read bit
  uint8_t reserved = 0;
  uint32_t registerAddress = 0;
  uint32_t readLength = 0;
  uint32_t writeLength = 0;
};

// Result of the I2C layer when no device is open or a report could not be sent.
constexpr int32_t kI2CMNoDevice = -16;
// Result for a reply that is not a finished I2C-master transaction.
constexpr int32_t kI2CMInvalidReply = -2;
// Most data bytes one transaction carries.
constexpr uint32_t kI2CMMaxTransfer = 16;

// The bus (byte 3 of every I2C report) and register address width of a mode.
struct I2CMModeLayout {
  uint8_t bus;
  uint8_t addressWidth;
};
I2CMModeLayout I2CMLayoutOfMode(uint8_t mode);

// Stores the target mode and slave address used by every later transaction. 0.
int32_t I2CMSetTarget(uint8_t mode, uint8_t slaveAddress);

// Sends the bus-speed report (no reply); nothing when no device is open.
void I2CMSetSpeed(uint8_t bus, uint16_t speedKhz);

// Finds the fastest speed at which a test pattern survives a round trip
// through the mailbox scratch pads, and settles the bus at it.
void I2CMSettleSpeed();

// The settled bus speed in kHz, 0 while none is settled.
uint16_t I2CMSpeedKhz();

// One transaction: the data to write, or the buffer that receives the bytes
// read. 0, the I2C result 1-255, kI2CMNoDevice, kI2CMInvalidReply or -1
// (no finished reply in time).
int32_t I2CM_RC_USB(uint8_t* data, const I2CMRequest& request);

// Register reads and writes of the current target in 16-byte transactions.
// Address 0 sends nothing and returns 1 (a read zero-fills `dest`).
int32_t I2CMRead(uint32_t address, uint32_t length, uint8_t* dest);
int32_t I2CMWrite(uint32_t address, uint32_t length, const uint8_t* data);

// RC command to the target's MCU through its mailbox, 32 bytes per chunk.
// 0; -2 without a device; an I2C-layer result; 2 (the MCU never took the
// command), 3 (a second time-out in the call), 4 (RC mode could not be
// enabled); or the MCU's status byte.
int32_t RCI2CSetCommand(uint8_t command, uint32_t length, uint32_t address, const uint8_t* data);

// Writing a firmware image into the converter chip's flash and activating it.
#pragma once

#include <cstdint>

// Bytes of flash that a firmware image fills on a chip of this type; 0 for a
// chip type whose firmware this tool refuses to update.
uint32_t FirmwareImageSize(uint32_t chipType);

// The whole update: RCWriteFirmwareFile, then RCActivateFirmware, then the
// closing message. 0 on success, else the failing step's result.
int32_t RCUpdateFirmware(const char* path);

// Enters update mode, erases the flash, writes the first FirmwareImageSize
// bytes of the file in 32-byte chunks and leaves update mode.
// 0, -1 (no device, refused chip type, unusable file, RC mode refused),
// 225 (erase failed), 226 (a chunk write failed) or kOperationStopped (a
// stop was requested: before the erase, or between two chunks).
int32_t RCWriteFirmwareFile(const char* path);

// Asks the chip to activate the newly written firmware; the result of the
// activation command.
int32_t RCActivateFirmware();

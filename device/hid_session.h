// Device session: finds, opens and closes the converter and carries single
// 62-byte reports to and from it. All HID access goes through the installed
// backend (hid_seam.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/hid_seam.h"

// Initialises the installed HID backend. 0, or -1 when it cannot be set up
// or no backend is installed.
int32_t RCInit();

// Closes any open device, then opens the first attached converter of the
// build's vendor ID and a supported product family. 0 when a device is open
// afterwards, else -1 (with "Can not find device!!\n" or the open-failure
// message through the message sink).
int32_t RCEnumAndOpenDevice();

// Closes any open device, then opens the first device with exactly these IDs
// and switches it to non-blocking reads. 0 or -1.
int32_t RCOpenDevice(uint16_t vendorId, uint16_t productId);

// Closes any open device, then opens the device at this enumeration path
// (`ktq --device`). 0, or -1 when there is no such device or it cannot be
// opened (no message: the caller knows what it asked for).
int32_t RCOpenDevicePath(const char* path);

// Closes the open device, if any. Always 0.
int32_t RCCloseDevice();

// RCCloseDevice, then shuts the backend down. 0.
int32_t RCExit();

// The one open device, or null when none is open. A removed device stays the
// open device (its transfers fail) until it is closed or another is opened.
hid_device* DeviceHandle();

namespace ktq {

// Every report to and from the converter: report ID 1, 62 bytes with the ID.
constexpr size_t kReportSize = 62;
constexpr uint8_t kReportId = 0x01;

// Build constants (CMake cache variables KTQ_VENDOR_ID and
// KTQ_PRODUCT_FAMILIES).
uint16_t SupportedVendorId();
const std::vector<uint16_t>& SupportedProductFamilies();

// The build's vendor ID and a product ID whose high byte names a supported
// family; the low byte (model variant) is not looked at.
bool IsSupportedConverter(uint16_t vendorId, uint16_t productId);

// Send primitive: one output report of kReportSize bytes. The backend's
// result (0 or less: failed); -1 at once once the device has been removed.
int SendOutputReport(hid_device* device, const uint8_t* report);

// Fetch primitive: GET_REPORT for the input report whose ID is report[0];
// the reply overwrites the kReportSize bytes. As SendOutputReport for
// results.
int FetchInputReport(hid_device* device, uint8_t* report);

// True from the moment the backend reported the open device removed.
bool DeviceRemoved();

// Installs the HID backend for the whole process; null leaves none (every
// call then fails). The front end installs one before RCInit and leaves it
// in place until after RCExit. An open device stays with the backend that
// opened it until it is closed; a backend installed meanwhile serves from
// the next open on. The table must outlive its use.
void SetHidBackend(const HidBackend* backend);
const HidBackend* InstalledHidBackend();

struct ConverterListing {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string product;  // UTF-8
  std::string serial;   // UTF-8, empty when the device has none
};

// The attached supported converters in enumeration order, the first being the
// one RCEnumAndOpenDevice opens. Needs RCInit.
std::vector<ConverterListing> ListSupportedConverters();

// Every HID device attached, supported or not (for telling a user what is
// there when no converter is). Needs RCInit.
std::vector<ConverterListing> ListHidDevices();

}  // namespace ktq

// Enumeration entries of the virtual backends, allocated as the HID library
// allocates its own, so that the device layer frees them the same way.
#pragma once

#include "device/hid_seam.h"
#include "sim/virtual_converter.h"

namespace ktq::sim {

// One entry for `id` (texts decoded from UTF-8), `next` empty.
hid_device_info* NewHidDeviceInfo(const DeviceIdentity& id);
void FreeHidDeviceInfoList(hid_device_info* list);

}  // namespace ktq::sim

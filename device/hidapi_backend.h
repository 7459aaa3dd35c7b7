// The HID backend of the shipped programs: hidapi's hidraw backend for the
// transfers, and a libudev monitor per open device for its removal.
#pragma once

#include "device/hid_seam.h"

namespace ktq {

const HidBackend& HidapiBackend();

}  // namespace ktq

// Firmware update of the RDX4410 companion chip: the image goes into the
// flash it shares with the main chip, then the RDX4410 activates it on
// command through its mailbox.
#pragma once

#include <cstdint>

// 0 on success, else the failing step's result: -1 without a device, 242
// for a main chip that is not type 5, the main chip's refusal of RC mode or
// of the shared bus, the flash write's result, the RDX4410's refusal to
// release the shared bus, or (after every restore step) the last of its
// three refused activations.
int32_t RCCascadeUpdate(const char* path);

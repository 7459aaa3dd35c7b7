// The identity section of the diagnostic dump: product and serial number of
// the input EDID, chip ID and silicon, firmware name and version, the
// bootloader's status word field by field, the MCU clock and the HDCP keys.
#pragma once

#include <string>

// Appends the section to `text`. A failed read changes or drops only the
// lines that depend on it; the section always ends with the "Running in"
// line.
void AppendChipInfo(std::string& text);

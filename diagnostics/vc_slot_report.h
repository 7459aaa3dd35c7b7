// The DisplayPort MST time-slot tables of the receiver and of the
// MST-capable transmitters, with their virtual-channel IDs.
#pragma once

#include <string>

// Appends the tables to `text`. An absent register or a failed read ends the
// report silently; what was appended stays.
void VcSlotReport(std::string& text);

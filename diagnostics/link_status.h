// The live state of the video links, decoded from the chip's registers: the
// DisplayPort receiver, each received stream, each transmitter and the CC/PD
// detection. LinkStatusReport serves chip types 4 and 5,
// LinkStatusReport2 chip type 6, whose firmware keeps a status record per
// port.
#pragma once

#include <string>

void LinkStatusReport(std::string& text);
void LinkStatusReport2(std::string& text);

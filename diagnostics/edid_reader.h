// Reads an EDID through the chip and makes its report text.
#pragma once

#include <cstdint>
#include <string>

// Index 0: the EDID the chip presents on its input; index n >= 1: the EDID
// of the display on output port n - 1. `text` is emptied, then holds the hex
// listing and the checksum error or the decoded summary. It stays empty when
// the output's sink does not assert hot-plug or the base block cannot be
// read.
void ReadEdidText(uint32_t index, std::string& text);

// Reads an EDID through the chip and makes its report text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "diagnostics/edid_decoder.h"

// Index 0: the EDID the chip presents on its input; index n >= 1: the EDID
// of the display on output port n - 1. `text` is emptied, then holds the hex
// listing and the checksum error or the decoded summary. It stays empty when
// the output's sink does not assert hot-plug or the base block cannot be
// read.
void ReadEdidText(uint32_t index, std::string& text);

namespace ktq {

// The bytes behind ReadEdidText, and how many of the blocks wanted came.
struct EdidRead {
  bool present = false;  // hot-plug asserted and the base block read
  std::array<uint8_t, kEdidBufferSize> buffer{};
  size_t extensionsWanted = 0;  // extension blocks the reader handles
  size_t extensionsRead = 0;    // of those, read whole (the rest are zeros)
};
EdidRead ReadEdid(uint32_t index);

}  // namespace ktq

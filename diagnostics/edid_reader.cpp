#include "diagnostics/edid_reader.h"

#include <algorithm>
#include <array>

#include "device/rc_command.h"
#include "diagnostics/edid_decoder.h"
#include "diagnostics/tx_hpd_state.h"

namespace {

// 0x50 + index must stay an EDID read: 0x7A is another command and bit 7
// marks a pending request.
constexpr uint32_t kMaxEdidIndex = UPDC_READ_TIMING - UPDC_READ_EDID - 1;

}  // namespace

namespace ktq {

EdidRead ReadEdid(uint32_t index) {
  EdidRead read;
  if (index > kMaxEdidIndex) return read;
  if (index >= 1 && TxHpdState(index - 1) == 0) return read;

  auto& buffer = read.buffer;
  const auto command = static_cast<uint8_t>(UPDC_READ_EDID + index);
  if (RCGetCommand(command, kEdidBlockSize, 0, buffer.data()) != 0) {
    buffer.fill(0);
    return read;
  }
  read.present = true;
  read.extensionsWanted = EdidExtensionsHandled(buffer.data(), buffer.size());
  for (size_t k = 1; k <= read.extensionsWanted; ++k) {
    uint8_t* block = buffer.data() + kEdidBlockSize * k;
    const auto offset = static_cast<uint32_t>(kEdidBlockSize * k);
    // A failed read may have copied some chunks; the block counts as zeros.
    if (RCGetCommand(command, kEdidBlockSize, offset, block) != 0) {
      std::fill_n(block, kEdidBlockSize, 0);
    } else {
      ++read.extensionsRead;
    }
  }
  return read;
}

}  // namespace ktq

void ReadEdidText(uint32_t index, std::string& text) {
  text.clear();
  const ktq::EdidRead read = ktq::ReadEdid(index);
  if (read.present) text = ktq::EdidTextFromBytes(read.buffer);
}

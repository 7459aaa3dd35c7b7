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

void ReadEdidText(uint32_t index, std::string& text) {
  using ktq::kEdidBlockSize;
  text.clear();
  if (index > kMaxEdidIndex) return;
  if (index >= 1 && TxHpdState(index - 1) == 0) return;

  std::array<uint8_t, ktq::kEdidBufferSize> buffer{};
  const auto command = static_cast<uint8_t>(UPDC_READ_EDID + index);
  if (RCGetCommand(command, kEdidBlockSize, 0, buffer.data()) != 0) return;
  const size_t extensions = ktq::EdidExtensionsHandled(buffer.data(), buffer.size());
  for (size_t k = 1; k <= extensions; ++k) {
    uint8_t* block = buffer.data() + kEdidBlockSize * k;
    const auto offset = static_cast<uint32_t>(kEdidBlockSize * k);
    // A failed read may have copied some chunks; the block counts as zeros.
    if (RCGetCommand(command, kEdidBlockSize, offset, block) != 0) std::fill_n(block, kEdidBlockSize, 0);
  }
  text = ktq::EdidTextFromBytes(buffer);
}

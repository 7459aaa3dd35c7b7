#include "diagnostics/rx_dsc_info.h"

#include <cmath>

#include "report/format.h"
#include "diagnostics/register_access.h"

namespace {

constexpr uint32_t kDecoderBlockSize = 144;

}  // namespace

int32_t RxDscInfo(uint32_t stream, DscRecord& record) {
  using namespace ktq::diag;
  record = DscRecord{};
  const uint32_t dec0 = RegisterAt("RX_DEC0_CTRL");
  const uint32_t dec1 = RegisterAt("RX_DEC1_CTRL");
  if (dec0 == 0 || (stream != 0 && dec1 == 0)) return 0;
  const uint32_t address = dec0 + (dec1 - dec0) * stream;
  uint8_t block[kDecoderBlockSize] = {};
  if (!ReadMemory(address, sizeof block, block)) return 0;
  auto word = [&](int i) { return LittleEndian32(block + 4 * i); };
  const uint32_t w2 = word(2), w3 = word(3), w4 = word(4), w5 = word(5);
  record.majorVersion = static_cast<uint8_t>(w2 >> 28);
  record.minorVersion = static_cast<uint8_t>((w2 >> 24) & 0xF);
  record.bitsPerComponent = static_cast<uint8_t>((w2 >> 4) & 0xF);
  record.lineBufferDepth = static_cast<uint8_t>(w2 & 0xF);
  record.pictureWidth = static_cast<uint16_t>(w4 >> 16);
  record.pictureHeight = static_cast<uint16_t>(w3 & 0xFFFF);
  record.sliceWidth = static_cast<uint16_t>(w5 >> 16);
  record.sliceHeight = static_cast<uint16_t>(w4 & 0xFFFF);
  record.chunkSize = static_cast<uint16_t>(w5 & 0xFFFF);
  record.bitsPerPixel16 = static_cast<uint16_t>((w3 >> 16) & 0x1FF);
  record.control = word(0);
  record.status = static_cast<uint8_t>(word(1) & 0xFF);
  record.flags = static_cast<uint8_t>(((w3 >> 26) & 1 ? kDscFlagVbr : 0) | ((w3 >> 29) & 1 ? kDscFlagBlockPrediction : 0) |
                                      ((w3 >> 28) & 1 ? kDscFlagRgb : 0) | ((w3 >> 27) & 1 ? kDscFlagSimple422 : 0));
  return 0;
}

namespace ktq::diag {

std::string DscStreamLines(const DscRecord& r) {
  const double bpp = r.bitsPerPixel16 / 16.0;
  const double shownBpp = std::trunc(bpp * 1000) / 1000;
  // A decoder that reports no bits per pixel has no ratio to show.
  const double ratio = bpp > 0 ? std::trunc(r.bitsPerComponent * 3 / bpp * 100) / 100 : 0.0;
  auto flag = [&](uint8_t bit) { return (r.flags & bit) ? 1 : 0; };
  return FormatString(
      "DSC%d.%d stream: PIC %dx%d, Slice %dx%d, %.2f BPP, Compress ratio: %.1f:1 \r\n  Chunk %d, Line %d, RGB %d, "
      "S422: %d, VBR %d, BP %d, Ctrl %08x, Sts %02x\r\n",
      r.majorVersion, r.minorVersion, r.pictureWidth, r.pictureHeight, r.sliceWidth, r.sliceHeight, shownBpp, ratio,
      r.chunkSize, r.lineBufferDepth, flag(kDscFlagRgb), flag(kDscFlagSimple422), flag(kDscFlagVbr),
      flag(kDscFlagBlockPrediction), r.control, r.status);
}

}  // namespace ktq::diag

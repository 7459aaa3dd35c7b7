// The status record the type-6 firmware keeps for each port and direction
// (UPDC_READ_TIMING), and how it is read.
//
// The record is 36 bytes: the pixel clock lies at offset 32. One request
// carries at most 32 bytes, so the record is read in two: 32 bytes at
// (port << 8) | direction, then 4 bytes 32 address units further on; the
// firmware takes the low byte of the address, without the direction bit, as
// the offset into the record. A firmware that refuses the second request
// still gives the first 32 bytes; its clock then reads as 0 (no refresh rate
// and no pixel clock shown).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktq::diag {

enum class PortDirection : uint32_t { kReceive = 0, kTransmit = 1 };

constexpr size_t kPortRecordSize = 36;
constexpr size_t kPortRecordRequest = 32;  // bytes of the first request

struct PortRecord {
  uint16_t flags = 0;
  uint8_t hdcp = 0;
  uint8_t hdcpState = 0;
  uint8_t linkState = 0;
  uint8_t audio = 0;
  uint16_t sampleRate = 0;  // Hz
  uint16_t ht = 0, vt = 0, hs = 0, vs = 0, ha = 0, va = 0;
  uint32_t sync = 0;
  uint32_t colour = 0;
  uint32_t pixelClockKHz = 0;

  uint32_t Lanes() const { return flags >> 13; }
  uint32_t RateCode() const { return (flags >> 8) & 0x1F; }
  uint32_t Hsw() const { return sync & 0x7FFF; }
  uint32_t Hpol() const { return (sync >> 15) & 1; }
  uint32_t Vsw() const { return (sync >> 16) & 0x7FFF; }
  uint32_t Vpol() const { return sync >> 31; }
  // Index into the colour table (0 RGB, 1 YUV444, 2 YUV422, 3 YUV420, ...).
  uint32_t ColourIndex() const;
  uint32_t Bpc() const;
  // Refresh rate in hundredths of a hertz; 0 without a frame size.
  uint32_t Refresh100() const;
  // The tenth of a megahertz, from the clock rounded to 100 kHz.
  uint32_t ClockTenth() const { return static_cast<uint32_t>((static_cast<uint64_t>(pixelClockKHz) + 50) / 100 % 10); }
};

// The record laid out in `bytes` (kPortRecordSize of them, little-endian).
PortRecord ParsePortRecord(const uint8_t* bytes);

// Reads the record of `port`; all zero when the first request fails.
PortRecord ReadPortRecord(uint32_t port, PortDirection direction);

}  // namespace ktq::diag

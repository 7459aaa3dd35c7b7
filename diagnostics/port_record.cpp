#include "diagnostics/port_record.h"

#include "device/rc_command.h"
#include "diagnostics/register_access.h"

namespace ktq::diag {

uint32_t PortRecord::ColourIndex() const {
  if (colour & (1u << 14)) return (colour >> 16) & 0xF;
  if (!(colour & (1u << 4))) return 0;
  static const uint32_t kByCode[4] = {3, 2, 1, 1};
  return kByCode[(colour >> 1) & 3];
}

uint32_t PortRecord::Bpc() const {
  const uint32_t code = (colour & (1u << 14)) ? (colour >> 24) & 7 : (colour >> 5) & 7;
  return code <= 3 ? 6 + 2 * code : 0;
}

uint32_t PortRecord::Refresh100() const {
  const uint64_t frame = static_cast<uint64_t>(ht) * vt;
  if (frame == 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(pixelClockKHz) * 100000 / frame);
}

PortRecord ParsePortRecord(const uint8_t* b) {
  PortRecord r;
  r.flags = LittleEndian16(b);
  r.hdcp = b[2];
  r.hdcpState = b[3];
  r.linkState = b[4];
  r.audio = b[5];
  r.sampleRate = LittleEndian16(b + 6);
  r.ht = LittleEndian16(b + 8);
  r.vt = LittleEndian16(b + 10);
  r.hs = LittleEndian16(b + 12);
  r.vs = LittleEndian16(b + 14);
  r.ha = LittleEndian16(b + 16);
  r.va = LittleEndian16(b + 18);
  r.sync = LittleEndian32(b + 20);
  r.colour = LittleEndian32(b + 24);
  r.pixelClockKHz = LittleEndian32(b + 32);
  return r;
}

PortRecord ReadPortRecord(uint32_t port, PortDirection direction) {
  uint8_t bytes[kPortRecordSize] = {};
  const uint32_t address = port << 8 | static_cast<uint32_t>(direction);
  if (RCGetCommand(UPDC_READ_TIMING, kPortRecordRequest, address, bytes) != 0) return PortRecord{};
  if (RCGetCommand(UPDC_READ_TIMING, kPortRecordSize - kPortRecordRequest, address + kPortRecordRequest,
                   bytes + kPortRecordRequest) != 0) {
    for (size_t i = kPortRecordRequest; i < kPortRecordSize; ++i) bytes[i] = 0;
  }
  return ParsePortRecord(bytes);
}

}  // namespace ktq::diag

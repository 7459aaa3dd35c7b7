// The DSC decoder state of a receive stream, and the lines both link status
// layouts print for it.
#pragma once

#include <cstdint>
#include <string>

struct DscRecord {
  uint8_t majorVersion = 0;
  uint8_t minorVersion = 0;
  uint8_t bitsPerComponent = 0;
  uint8_t lineBufferDepth = 0;
  uint16_t pictureWidth = 0;
  uint16_t pictureHeight = 0;
  uint16_t sliceWidth = 0;
  uint16_t sliceHeight = 0;
  uint16_t chunkSize = 0;
  uint16_t bitsPerPixel16 = 0;  // bits per pixel in sixteenths
  uint32_t control = 0;
  uint8_t status = 0;
  uint8_t flags = 0;  // kDscFlag*
};

constexpr uint8_t kDscFlagVbr = 0x01;
constexpr uint8_t kDscFlagBlockPrediction = 0x02;
constexpr uint8_t kDscFlagRgb = 0x04;
constexpr uint8_t kDscFlagSimple422 = 0x08;

// Bit 29 of the control word: the decoder decompresses the stream (clear:
// it passes it through compressed).
constexpr uint32_t kDscDecompressBit = 1u << 29;

// Fills `record` from the 144-byte decoder block of receive stream
// `stream`; the record stays zero when the block is absent or its read
// fails. Always 0.
int32_t RxDscInfo(uint32_t stream, DscRecord& record);

namespace ktq::diag {

// "DSC%d.%d stream: PIC ..., Sts %02x\r\n": the two lines of the record.
// The bits per pixel print truncated to three decimals and the compression
// ratio truncated to two; a record without bits per pixel gives ratio 0.
std::string DscStreamLines(const DscRecord& record);

}  // namespace ktq::diag

#include "diagnostics/edid_decoder.h"

#include <algorithm>
#include <array>

#include "diagnostics/edid_tables.h"
#include "report/format.h"

namespace ktq {

namespace {

using edid::FlagNames;

constexpr std::array<size_t, 4> kDescriptorOffsets = {54, 72, 90, 108};
constexpr size_t kDescriptorSize = 18;
constexpr size_t kExtensionCountOffset = 126;

constexpr uint8_t kTagCta = 0x02;
constexpr uint8_t kTagDisplayId = 0x70;
constexpr uint8_t kTagVideoTimingBlock = 0x10;

uint32_t Le16(const uint8_t* p) { return p[0] | static_cast<uint32_t>(p[1]) << 8; }

uint8_t ByteSum(const uint8_t* p, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += p[i];
  return static_cast<uint8_t>(sum);
}

// Refresh in Hz, rounded; 0 for a zero total, which describes no frame.
int64_t RefreshHz(double clockKhz, int64_t hTotal, int64_t vTotal) {
  const int64_t pixels = hTotal * vTotal;
  if (pixels == 0) return 0;
  return static_cast<int64_t>(clockKhz * 1000.0 / static_cast<double>(pixels) + 0.5);
}

// Clocks are shown from single-precision values: the report's second
// decimal is that of the narrowed value, not of the exact quotient.
double ToSinglePrecisionThousandths(double value) { return static_cast<float>(value / 1000.0); }

// The values printed of an 18-byte detailed timing descriptor.
struct DetailedTiming {
  int clockKhz;
  int hActive;
  int vActive;
  int hTotal;
  int vTotal;
  int refresh;  // at most 655350000, as the clock is at most 655350 kHz
};

DetailedTiming DecodeDetailedTiming(const uint8_t* d) {
  DetailedTiming t{};
  t.clockKhz = static_cast<int>(Le16(d) * 10);
  t.hActive = d[2] + (d[4] >> 4) * 256;
  t.vActive = d[5] + (d[7] >> 4) * 256;
  t.hTotal = t.hActive + d[3] + (d[4] & 0x0F) * 256;
  t.vTotal = t.vActive + d[6] + (d[7] & 0x0F) * 256;
  t.refresh = static_cast<int>(RefreshHz(t.clockKhz, t.hTotal, t.vTotal));
  return t;
}

// Appends flag names as "%s, ", breaking the line after the 2nd, 6th, 10th
// ... name when `printed` is given to count names across calls.
void AppendFlagNames(uint8_t bits, const FlagNames& names, std::string& text,
                     int* printed = nullptr) {
  for (size_t bit = 0; bit < names.size(); ++bit) {
    if (!(bits & (1u << bit)) || names[bit] == nullptr) continue;
    text += FormatString("%s, ", names[bit]);
    if (printed && ++*printed % 4 == 2) text += "\r\n  ";
  }
}

// VIC named by a short video descriptor byte, or 0 when it names none.
uint32_t VicOfDescriptor(uint8_t s) {
  if (s == 0 || s == 128 || s >= 220) return 0;
  if (s > 128 && s <= 192) return s - 128u;
  return s;
}

// --- Base block ---------------------------------------------------------

const uint8_t* FindDisplayDescriptor(const uint8_t* base, uint8_t tag) {
  for (size_t offset : kDescriptorOffsets) {
    const uint8_t* d = base + offset;
    if (d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == tag) return d;
  }
  return nullptr;
}

void AppendIdentity(const uint8_t* base, std::string& text) {
  // The name field holds 13 bytes; a name without its 0x0A end keeps 12.
  char name[13] = {};
  if (const uint8_t* d = FindDisplayDescriptor(base, 0xFC)) {
    for (size_t i = 0; i < 12 && d[5 + i] != 0x0A; ++i) name[i] = static_cast<char>(d[5 + i]);
  }
  text += FormatString("  Product name: %s, ", name);

  const uint32_t maker = base[8] << 8 | base[9];
  const char letters[4] = {static_cast<char>(((maker >> 10) & 0x1F) + 0x40),
                           static_cast<char>(((maker >> 5) & 0x1F) + 0x40),
                           static_cast<char>((maker & 0x1F) + 0x40), '\0'};
  text += "Product ID: ";
  text += letters;
  text += FormatString(" %04X\r\n", Le16(base + 10));

  const uint32_t serial = Le16(base + 12) | Le16(base + 14) << 16;
  text += FormatString("  Serial No: %d, ", static_cast<int32_t>(serial));
  const int year = base[17] + 1990;
  if (base[16] != 0) {
    text += FormatString("Manufacture date: %dth week, %d", base[16], year);
  } else {
    text += FormatString("%d model", year);
  }
  text += "\r\n";
}

void AppendInterface(const uint8_t* base, std::string& text) {
  const uint8_t input = base[20];
  const uint32_t depthCode = (input >> 4) & 0x07;
  if (!(input & 0x80) || depthCode == 0) return;
  text += FormatString("  %s interface, support %d bits color\r\n",
                       edid::InterfaceName(input & 0x0F), static_cast<int>(depthCode * 2 + 4));
}

void AppendRangeLimits(const uint8_t* base, std::string& text) {
  const uint8_t* d = FindDisplayDescriptor(base, 0xFD);
  if (d == nullptr) return;
  // Bits 0 to 3 of byte 4 add 255 to the rate that follows at byte 5 + bit.
  auto rate = [d](int bit) { return d[5 + bit] + ((d[4] >> bit) & 1 ? 255 : 0); };
  text += "  Support range, ";
  text += FormatString("VSync: %d-%dHz, HSync: %d-%dKHz, Pixel clock: <=%dMHz\r\n", rate(0),
                       rate(1), rate(2), rate(3), d[9] * 10);
}

void AppendBaseTimings(const uint8_t* base, std::string& text) {
  const DetailedTiming p = DecodeDetailedTiming(base + kDescriptorOffsets[0]);
  text += FormatString("  Preferred timing: %dx%d@%dHz, Pixel clock: %.2fMHz, H/V Total: %d/%d\r\n",
                       p.hActive, p.vActive, p.refresh,
                       ToSinglePrecisionThousandths(p.clockKhz), p.hTotal, p.vTotal);
  for (size_t i = 1; i < kDescriptorOffsets.size(); ++i) {
    const uint8_t* d = base + kDescriptorOffsets[i];
    if (d[0] == 0 && d[1] == 0) continue;
    const DetailedTiming t = DecodeDetailedTiming(d);
    text += FormatString("  Detail timing: %dx%d@%dHz, Pixel clock: %dKHz, H/V Total: %d/%d\r\n",
                         t.hActive, t.vActive, t.refresh, t.clockKhz, t.hTotal, t.vTotal);
  }
}

void AppendStandardTiming(const uint8_t* code, int& printed, std::string& text) {
  if (code[0] == 0x01 && code[1] == 0x01) return;  // unused slot
  const int width = (code[0] + 31) * 8;
  int height = 0;
  switch (code[1] >> 6) {
    case 0: height = width * 10 / 16; break;
    case 1: height = width * 3 / 4; break;
    case 2: height = width * 209716 / (1 << 18); break;  // 4:5
    default: height = width * 9 / 16; break;
  }
  text += FormatString("%dx%d@%dHz, ", width, height, (code[1] & 0x3F) + 60);
  if (++printed % 4 == 0) text += "\r\n  ";
}

void AppendStandardTimings(const uint8_t* base, std::string& text) {
  text += "  Supported standard timing list: \r\n    ";
  int printed = 0;
  for (size_t offset : kDescriptorOffsets) {
    const uint8_t* d = base + offset;
    if (!(d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 0xFA)) continue;
    for (size_t i = 0; i < 6; ++i) AppendStandardTiming(d + 5 + 2 * i, printed, text);
  }
  for (size_t i = 0; i < 8; ++i) AppendStandardTiming(base + 38 + 2 * i, printed, text);
}

// --- CTA-861 extension --------------------------------------------------

// One CTA-861 extension block. Data blocks are read only as far as the block
// reaches: a length that runs past its end is cut at the end.
class CtaBlockDecoder {
 public:
  CtaBlockDecoder(const uint8_t* block, std::string& text) : block_(block), text_(text) {}

  void Decode() {
    const size_t dtdOffset = block_[2];
    if (dtdOffset > 126) return;
    text_ += "\r\nCEA externsion block\r\n";
    text_ += "  Support feature: ";
    const uint8_t features = block_[3];
    if (features & 0x80) text_ += "under scan, ";
    if (features & 0x40) text_ += "audio, ";
    if (features & 0x20) text_ += "YCbCr 4:4:4, ";
    if (features & 0x10) text_ += "YCbCr 4:2:2, ";
    text_ += "\r\n";
    if (dtdOffset >= 5) {
      for (size_t offset = 4; offset < dtdOffset;) {
        const uint8_t header = block_[offset];
        DecodeDataBlock(header >> 5, header & 0x1F,
                        std::span<const uint8_t>(block_ + offset, kEdidBlockSize - offset));
        offset += (header & 0x1Fu) + 1;
      }
    }
    AppendDetailedTimings(dtdOffset);
  }

 private:
  // `rest` runs from the data block's header to the end of the extension
  // block; byte i of the data block is rest[i].
  void DecodeDataBlock(int tag, size_t length, std::span<const uint8_t> rest) {
    const size_t present = std::min(length, rest.size() - 1);
    switch (tag) {
      case 1: DecodeAudio(rest); break;
      case 2: DecodeVideo(length, rest.subspan(1, present)); break;
      case 3: DecodeVendorSpecific(rest.first(present + 1)); break;
      case 4: DecodeSpeakers(rest); break;
      case 7:
        if (rest.size() < 2) break;
        if (rest[1] == 14) DecodeYcbcr420Video(rest.first(present + 1));
        if (rest[1] == 15) DecodeYcbcr420Map(rest.first(present + 1));
        break;
      default: break;
    }
  }

  // Only the first short audio descriptor is shown.
  void DecodeAudio(std::span<const uint8_t> b) {
    if (b.size() < 3) return;
    text_ += FormatString("  Support up to %d channel %s audio\r\n", (b[1] & 0x07) + 1,
                          edid::AudioFormatName((b[1] >> 3) & 0x0F));
    text_ += "  Support audio frequency(Hz): ";
    for (size_t bit = 0; bit < edid::kSamplingRateNames.size(); ++bit) {
      if (b[2] & (1u << bit)) text_ += FormatString("%s, ", edid::kSamplingRateNames[bit]);
      if (bit == 2 || bit == 6) text_ += "\r\n  ";
    }
  }

  void DecodeVideo(size_t declaredLength, std::span<const uint8_t> descriptors) {
    text_ += FormatString("  Support %d video formats: ", static_cast<int>(declaredLength));
    for (size_t i = 0; i < descriptors.size(); ++i) {
      const uint32_t vic = VicOfDescriptor(descriptors[i]);
      if (vic != 0) {
        if (vicCount_ < kVicListCapacity) vics_[vicCount_++] = static_cast<uint8_t>(vic);
        text_ += FormatString("%s, ", edid::VicName(vic));
      }
      if (i % 4 == 2) text_ += "\r\n  ";
    }
    if (!descriptors.empty()) text_ += "\r\n";
  }

  // Only the HDMI Forum block (OUI C4-5D-D8, version 1) is decoded.
  void DecodeVendorSpecific(std::span<const uint8_t> b) {
    const size_t length = b.size() - 1;
    if (length < 7 || b[1] != 0xD8 || b[2] != 0x5D || b[3] != 0xC4 || b[4] != 1) return;
    text_ += "  HF-VSDB: ";
    text_ += FormatString("Max_TMDS_Character_Rate %dMHz, ", b[5] * 5);
    int printed = 0;
    AppendFlagNames(b[6], edid::kHfByte6Flags, text_, &printed);
    AppendFlagNames(b[7], edid::kHfByte7Flags, text_, &printed);
    text_ += "\r\n";
    text_ += FormatString("  %s", edid::MaxFrlRateText(b[7] >> 4));
    if (length >= 8) AppendFlagNames(b[8], edid::kHfByte8Flags, text_);
    if (length >= 10) {
      text_ += FormatString("VRR_min: %2d, VRR_max: %d, ", b[9] & 0x3F,
                            b[10] + (b[9] >> 6) * 256);
      text_ += "\r\n";
    }
    if (length >= 11) {
      text_ += "  DSC: ";
      AppendFlagNames(b[11], edid::kHfByte11Flags, text_);
      text_ += "\r\n  ";
    }
    if (length >= 12) {
      text_ += FormatString("DSC_MAX_Slice: %s, DSC_Max_FRL_Rate: %s, ",
                            edid::DscMaxSlicesText(b[12] & 0x0F),
                            edid::DscMaxFrlRateText(b[12] >> 4));
    }
    if (length >= 13) text_ += FormatString("total chuck byte: %dK ", (b[13] & 0x3F) + 1);
  }

  void DecodeSpeakers(std::span<const uint8_t> b) {
    if (b.size() < 2) return;
    text_ += "\r\n  Speaker Allocation: ";
    for (size_t bit = 0; bit < edid::kSpeakerNames.size(); ++bit) {
      if (b[1] & (1u << bit)) text_ += FormatString("%s, ", edid::kSpeakerNames[bit]);
    }
    text_ += "\r\n";
  }

  void AppendListedName(const char* name, int& printed) {
    text_ += FormatString("%s, ", name);
    if (++printed % 4 == 2) text_ += "\r\n  ";
  }

  void DecodeYcbcr420Video(std::span<const uint8_t> b) {
    text_ += "  Only support YCbCr 4:2:0 video formats: ";
    int printed = 0;
    for (size_t i = 2; i < b.size(); ++i) {
      const uint32_t vic = VicOfDescriptor(b[i]);
      if (vic != 0) AppendListedName(edid::VicName(vic), printed);
    }
    text_ += "\r\n";
  }

  // Bit b of map byte j stands for the VIC at list position 8j + b; bits for
  // positions past the list's 32 entries are ignored.
  void DecodeYcbcr420Map(std::span<const uint8_t> b) {
    text_ += "  Support YCbCr 4:2:0 video formats: ";
    int printed = 0;
    for (size_t j = 0; j + 2 < b.size(); ++j) {
      for (size_t bit = 0; bit < 8; ++bit) {
        const size_t position = 8 * j + bit;
        if (!(b[2 + j] & (1u << bit)) || position >= vics_.size()) continue;
        AppendListedName(edid::VicName(vics_[position]), printed);
      }
    }
    text_ += "\r\n";
  }

  // Offsets below 4 (0 declares no descriptors) are decoded from there like
  // any other: a well-formed block holds zeros at byte 4, which ends the list.
  void AppendDetailedTimings(size_t dtdOffset) {
    if (dtdOffset > 106) return;
    const size_t count = (124 - dtdOffset) / kDescriptorSize;
    for (size_t i = 0; i < count; ++i) {
      const DetailedTiming t = DecodeDetailedTiming(block_ + dtdOffset + kDescriptorSize * i);
      if (t.hActive == 0 || t.vActive == 0) break;
      text_ += FormatString("  Detail timing: %dx%d@%dHz, Pixel clock: %.2fMHz, H/V Total: %d_%d\r\n",
                            t.hActive, t.vActive, t.refresh,
                            ToSinglePrecisionThousandths(t.clockKhz), t.hTotal, t.vTotal);
    }
  }

  // Up to 31 VICs of this block's video data blocks, for the 4:2:0 map.
  static constexpr size_t kVicListCapacity = 31;
  const uint8_t* block_;
  std::string& text_;
  std::array<uint8_t, 32> vics_{};
  size_t vicCount_ = 0;
};

// --- DisplayID and video timing block extensions -------------------------

void DecodeDisplayIdBlock(const uint8_t* b, std::string& text) {
  text += "\r\nDID externsion block\r\n";
  const size_t sectionLength = b[2];
  if (sectionLength < 23 || b[5] != 3) return;  // type I timings only
  // The section checksum sits right after the section; a section too long
  // for its block has none to check against.
  const size_t checksumOffset = 5 + sectionLength;
  if (checksumOffset >= kEdidBlockSize || ByteSum(b + 1, checksumOffset) != 0) {
    text += "\r\nDID section checksum error\r\n";
    return;
  }
  constexpr size_t kFirstDescriptor = 8;
  constexpr size_t kTypeOneSize = 20;
  const size_t fitting = (kEdidBlockSize - kFirstDescriptor) / kTypeOneSize;
  const size_t count = std::min<size_t>(b[7] / kTypeOneSize, fitting);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* d = b + kFirstDescriptor + kTypeOneSize * i;
    if (Le16(d + 4) == 0 || Le16(d + 12) == 0) break;
    const int hActive = static_cast<int>(Le16(d + 4)) + 1;
    const int vActive = static_cast<int>(Le16(d + 12)) + 1;
    const int hTotal = hActive + static_cast<int>(Le16(d + 6)) + 1;
    const int vTotal = vActive + static_cast<int>(Le16(d + 14)) + 1;
    const double clock = (d[0] | d[1] << 8 | d[2] << 16) * 10.0;
    text += FormatString("  Detail timing: %dx%d@%lldHz, Pixel clock: %.2fKHz, HTotal_VTotal: %d_%d\r\n",
                         hActive, vActive, static_cast<long long>(RefreshHz(clock, hTotal, vTotal)),
                         ToSinglePrecisionThousandths(clock), hTotal, vTotal);
  }
}

void DecodeVideoTimingBlock(const uint8_t* b, std::string& text) {
  text += "\r\nVTB externsion block\r\n";
  constexpr size_t kFirstDescriptor = 5;
  constexpr size_t kMaxDescriptors = 6;  // all that fit in the block
  const size_t count = std::min<size_t>(b[2], kMaxDescriptors);
  for (size_t i = 0; i < count; ++i) {
    const DetailedTiming t = DecodeDetailedTiming(b + kFirstDescriptor + kDescriptorSize * i);
    text += FormatString("  Detail timing: %dx%d@%dHz, Pixel clock: %dKHz, HTotal_VTotal: %d_%d\r\n",
                         t.hActive, t.vActive, t.refresh, t.clockKhz, t.hTotal, t.vTotal);
  }
}

}  // namespace

size_t EdidExtensionsHandled(const uint8_t* edid, size_t size) {
  if (size < kEdidBlockSize) return 0;
  const size_t held = size / kEdidBlockSize - 1;
  return std::min({static_cast<size_t>(edid[kExtensionCountOffset]), kEdidMaxExtensions, held});
}

std::string EdidTextFromBytes(std::span<const uint8_t> edid) {
  std::string text;
  if (edid.size() < kEdidBlockSize) return text;
  const size_t listed = kEdidBlockSize * (1 + EdidExtensionsHandled(edid.data(), edid.size()));
  // "%02x " by hand: a formatted call per byte costs more than the decoding.
  static constexpr char kHexDigits[] = "0123456789abcdef";
  text.reserve(listed * 3 + listed / 16 * 2 + 4096);
  for (size_t i = 0; i < listed; ++i) {
    const char hex[3] = {kHexDigits[edid[i] >> 4], kHexDigits[edid[i] & 0xF], ' '};
    text.append(hex, sizeof hex);
    if (i % 16 == 15) text += "\r\n";
  }
  const uint8_t sum = ByteSum(edid.data(), kEdidBlockSize);
  if (sum != 0) {
    text += FormatString("Checksum error: %02x\r\n", sum);
    return text;
  }
  DecodeEdid(edid.data(), static_cast<uint32_t>(std::min(edid.size(), kEdidBufferSize)), text);
  return text;
}

}  // namespace ktq

int32_t DecodeEdid(const uint8_t* edid, uint32_t size, std::string& text) {
  using namespace ktq;
  if (edid == nullptr || size < kEdidBlockSize) return -1;
  text += "Base block: \r\n";
  AppendIdentity(edid, text);
  AppendInterface(edid, text);
  AppendRangeLimits(edid, text);
  AppendBaseTimings(edid, text);
  AppendStandardTimings(edid, text);

  if (edid[kExtensionCountOffset] == 0) {
    text += "\r\nNo extern block";
    return 0;
  }
  const size_t extensions = EdidExtensionsHandled(edid, size);
  for (size_t k = 1; k <= extensions; ++k) {
    const uint8_t* block = edid + kEdidBlockSize * k;
    if (ByteSum(block, kEdidBlockSize) != 0) {
      const uint8_t expected = static_cast<uint8_t>(0u - ByteSum(block, kEdidBlockSize - 1));
      text += FormatString("\r\nExtern block checksum error: %02x\r\n", expected);
      return 0;
    }
    switch (block[0]) {
      case kTagCta: CtaBlockDecoder(block, text).Decode(); break;
      case kTagDisplayId: DecodeDisplayIdBlock(block, text); break;
      case kTagVideoTimingBlock: DecodeVideoTimingBlock(block, text); break;
      default: break;  // other extensions are not shown
    }
  }
  return 0;
}

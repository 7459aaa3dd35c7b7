#include "diagnostics/chip_info.h"

#include <cstdint>
#include <cstring>

#include "chipdb/chip_id.h"
#include "chipdb/register_db.h"
#include "report/format.h"
#include "diagnostics/register_access.h"

namespace {

using namespace ktq::diag;

constexpr uint32_t kChipInfoAddress = 0x90000020;
constexpr uint8_t kEdidHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// Build dates from this one on keep the firmware's build tag in its own
// register.
constexpr uint32_t kGitShaBuildDate = 0x20220301;

const char* OkNg(uint32_t word, int bit) { return (word >> bit) & 1 ? "OK" : "NG"; }

void AppendEdidIdentity(std::string& text, bool readOk, const uint8_t* header) {
  if (!readOk) {
    text += FormatString("Read out EDID header failed\r\n");
    return;
  }
  if (std::memcmp(header, kEdidHeader, sizeof kEdidHeader) != 0) {
    text += FormatString("Invalid EDID header\r\n");
    return;
  }
  const uint32_t maker = static_cast<uint32_t>(header[8]) << 8 | header[9];
  const char letters[4] = {static_cast<char>(((maker >> 10) & 0x1F) + 0x40),
                           static_cast<char>(((maker >> 5) & 0x1F) + 0x40), static_cast<char>((maker & 0x1F) + 0x40),
                           0};
  text += FormatString("EDID information\r\n");
  text += FormatString("   Product ID: %s%04X\r\n", letters, LittleEndian16(header + 10));
  text += FormatString("   Serial No: %08d\r\n", static_cast<int32_t>(LittleEndian32(header + 12)));
}

void AppendChipId(std::string& text, bool edidOk, bool infoOk, const uint8_t* info) {
  if (edidOk && infoOk && info[1] != 0) {
    text += FormatString("\r\nCHIP ID: KTQ%02x%02x\r\n", info[1], info[2]);
    text += FormatString("CHIP version: %c%d\r\n", 'A' + (info[3] >> 4), info[3] & 0x0F);
    if (info[4] != 0) text += FormatString("Manufacture date: %dth week of the year %d\r\n", info[5], info[4] + 2000);
    text += FormatString("\r\n");
    return;
  }
  // Older parts keep only a family byte in their configuration memory.
  uint8_t b = 0;
  if (!ReadMemory(NamedAddressTable("CONFIG_MEMORY_ADDR") + 2, 1, &b)) return;
  if (b <= 0x3F)
    text += FormatString("\r\nCHIP ID: KTQ23%02x\r\n", b);
  else if (b & 0x80)
    text += FormatString("\r\nCHIP ID: KTQ24%02x\r\n", b & 0x3F);
  else
    text += FormatString("\r\nCHIP ID: KTQ22%02x\r\n", b & 0x3F);
}

uint32_t BuildTag() {
  if (CurrentChipType() != 6) return 0;
  const uint32_t buildDate = NamedOrZero("CORE_DFT_BUILD_DATE");
  const char* tagRegister =
      (buildDate & 0xFFFFFF00) >= kGitShaBuildDate ? "CORE_MCU_FW_VER_GIT_SHA" : "CORE_MCU_SPAD14";
  return NamedOrZero(tagRegister);
}

void AppendBootloader(std::string& text, bool keysProgrammed) {
  uint32_t s = 0;
  if (!ReadNamed("CORE_MCU_BOOTLOADER_STS", s)) {
    text += FormatString("Read out bootloader infomation failed\r\n");
  } else {
    text += FormatString("\r\nBootloader version: %03d\r\n", (s >> 24) & 0xF);
    text += FormatString("\r\nBootstrap setting: 0x%02x\r\n", (s >> 16) & 0xFF);
    text += FormatString("\r\nActive flash bank: \t%d\r\n", (s >> 30) & 1);
    text += FormatString("   JTAG loading: \t%s\r\n   Service mode: \t%s\r\n", (s >> 20) & 1 ? "Enabled" : "Disabled",
                         (s >> 19) & 1 ? "Service mode" : "Normal mode");
    text += FormatString("   Load speed: \t%sMbps\r\n", (s >> 16) & 1 ? "6" : "50 ");
    text += FormatString("   MCU speed: \t%dMHz\r\n", (NamedOrZero("CORE_CLK_REG_CLK_CTRL") >> 16) & 0x3FF);
    text += FormatString("\r\nFirmware image load result: 0x%02x, error code: %02x\r\n", s & 0xFF, (s >> 8) & 0xFF);
    text += FormatString(
        "   Firmware code loading %s\r\n   Configuration block0 loading %s\r\n   Configuration block1 loading %s\r\n ",
        OkNg(s, 0), OkNg(s, 2), OkNg(s, 3));
    if (CurrentChipType() != 6) {
      if (!keysProgrammed) {
        text += FormatString("  HDCP 1.4 key: not programmed\r\n ");
        text += FormatString("  HDCP 2.2 key: not programmed \r\n");
      } else {
        text += FormatString("  HDCP 1.4 key check %s\r\n ", OkNg(s, 1));
        text += FormatString("  HDCP 2.2 key check %s\r\n", OkNg(s, 29));
      }
    }
  }
  text += FormatString("\r\nRunning in %s\r\n", (s >> 7) & 1 ? "bootloader" : "firmware");
}

}  // namespace

void AppendChipInfo(std::string& text) {
  uint8_t header[18] = {};
  const bool edidOk = ReadMemory(NamedAddressTable("EDID_MEMORY_ADDR"), sizeof header, header);
  AppendEdidIdentity(text, edidOk, header);

  uint8_t info[8] = {};
  const bool infoOk = ReadMemory(kChipInfoAddress, sizeof info, info);
  // Bytes 4 to 7 all zero: no HDCP keys were programmed. Without the block
  // we cannot tell, and assume keys are there.
  const bool keysProgrammed = !infoOk || (info[4] | info[5] | info[6] | info[7]) != 0;
  AppendChipId(text, edidOk, infoOk, info);

  uint8_t name[16] = {};
  const bool nameOk = ReadMemory(NamedAddressTable("CONFIG_MEMORY_ADDR") + 0xF0, 15, name);
  name[15] = 0;
  // An unreadable name area is not taken for erased flash.
  const bool erased = nameOk && name[0] == 0xFF && name[1] == 0xFF && name[2] == 0xFF && name[3] == 0xFF;
  if (nameOk && name[0] != 0) {
    if (erased)
      text += FormatString("Firmware name: - - - - - - \r\n");
    else
      text += FormatString("Firmware name: %s\r\n", reinterpret_cast<const char*>(name));
  }

  const uint32_t tag = BuildTag();
  uint32_t version = 0;
  if (!ReadNamed("CORE_MCU_FW_VERSION", version)) {
    text += FormatString("Read out version infomation failed\r\n");
  } else if (erased) {
    text += FormatString("Firmware version: -- -- -- \r\nConfiguration file version: -- \r\n");
  } else {
    text += FormatString("Firmware version: %d.%02d.%03d", (version >> 8) & 0xFF, version & 0xFF, (version >> 16) & 0xFF);
    if (CurrentChipType() == 6 && tag != 0) text += FormatString("_%x", tag);
    text += FormatString("\r\nConfiguration file version: 0x%03X\r\n", version >> 24);
  }
  AppendBootloader(text, keysProgrammed);
}

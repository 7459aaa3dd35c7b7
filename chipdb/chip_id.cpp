#include "chipdb/chip_id.h"

#include <string>

#include "chipdb/register_db.h"
#include "device/rc_command.h"
#include "report/format.h"
#include "report/report_callbacks.h"

namespace {

constexpr int32_t kNotSupported = 242;

uint32_t LittleEndian32(const uint8_t* b) {
  return b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

const char* ChipName(uint32_t type) {
  switch (type) {
    case 6: return "Mondelo";
    case 5: return "Tarvik";
    default: return "Unknow";
  }
}

void ReportFirmwareVersion() {
  const uint32_t address = GetRegisterAddress("CORE_MCU_FW_VERSION");
  uint8_t bytes[4] = {};
  if (address == 0 || RCGetCommand(UPDC_READ_FROM_MEMORY, 4, address, bytes) != 0) {
    ktq::ReportInfo("Get FW version FAILED!!\n");
    return;
  }
  const uint32_t version = LittleEndian32(bytes);
  const int major = static_cast<int>((version >> 8) & 0xFF);
  const int minor = static_cast<int>(version & 0xFF);
  const int build = static_cast<int>((version >> 16) & 0xFF);
  ktq::ReportInfo(FormatString("Current FW version = %d.%02d.%03d\n", major, minor, build).c_str());
}

void ReportFirmwareName() {
  const uint32_t address = NamedAddressTable("CONFIG_MEMORY_ADDR") + 0xF0;
  char name[16] = {};  // 15 bytes from the chip and the host's terminator
  if (address == 0 ||
      RCGetCommand(UPDC_READ_FROM_MEMORY, 15, address, reinterpret_cast<uint8_t*>(name)) != 0 ||
      name[0] == 0) {
    ktq::ReportInfo("Get FW name FAILED!!\n");
    return;
  }
  name[15] = 0;
  ktq::ReportInfo(FormatString("Current FW name = %s\n", name).c_str());
}

}  // namespace

int32_t RCIdentifyChip() {
  uint8_t bytes[4] = {};
  // A failed read leaves date code 0, which no generation matches.
  const uint32_t dateCode =
      RCGetCommand(UPDC_READ_FROM_MEMORY, 4, ktq::chipdb::kChipDateCodeAddress, bytes) == 0
          ? LittleEndian32(bytes)
          : 0;
  const uint32_t generation = dateCode & 0xFFFFFF00;
  if (generation == 0x20201100) {
    ktq::chipdb::SetCurrentChipType(5);
  } else if (generation >= 0x20220300) {
    ktq::chipdb::SetCurrentChipType(6);
  } else {
    ktq::chipdb::SetCurrentChipType(4);
    ktq::ReportMessage("Device not supported!\r\n");
    return kNotSupported;
  }
  if (LoadRegisterDatabase(static_cast<int32_t>(CurrentChipType())) != 0) {
    ktq::ReportMessage("Unknown error in getting chip type!\r\n");
    return kNotSupported;
  }
  ktq::ReportInfo("Chip type: ");
  ktq::ReportInfo(ChipName(CurrentChipType()));
  ktq::ReportInfo("\r\n");
  ReportFirmwareVersion();
  ReportFirmwareName();

  const uint32_t versionAddress = NamedAddressTable("CHIP_VERSION_ADDR");
  uint8_t chipVersion[8] = {};
  if (versionAddress != 0) RCGetCommand(UPDC_READ_FROM_MEMORY, 8, versionAddress, chipVersion);
  ktq::chipdb::SetChipRevision(chipVersion[3]);
  return 0;
}

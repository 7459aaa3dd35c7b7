// list, read, write: the converters attached, and raw memory access.
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "device/hid_session.h"
#include "device/rc_command.h"
#include "report/format.h"

namespace ktq::cli {

namespace {

// Enough for any memory window of the chip, small enough to allocate.
constexpr uint64_t kMaxReadLength = 1u << 20;

int RunList(const std::vector<std::string>& args);
int RunRead(const std::vector<std::string>& args);
int RunWrite(const std::vector<std::string>& args);

const Command kList = {
    "list", "", "list the attached converters",
    "Lists the attached converters of the supported families, one a line:\n"
    "the device path, VID:PID in hex, the serial number (- when none) and the\n"
    "product string. With several converters, choose one for the other\n"
    "commands with --device PATH or --serial SERIAL.\n"
    "--json prints an array of objects with the keys path, vendor_id,\n"
    "product_id (numbers), serial and product.\n"
    "Exit status 3 when there is none.\n",
    RunList};

const Command kRead = {
    "read", "ADDRESS LENGTH", "read chip memory and show it in hex",
    "Reads LENGTH bytes (1 to 1048576) of chip memory from ADDRESS, 32 bytes\n"
    "per exchange, and prints them 16 a line, each line led by its address.\n"
    "Numbers are decimal, or hex with a 0x prefix.\n",
    RunRead};

const Command kWrite = {
    "write", "ADDRESS BYTE...", "write bytes to chip memory",
    "Writes the given bytes (0 to 255 each) to chip memory from ADDRESS on,\n"
    "32 bytes per exchange, after showing the converter and asking (see --yes).\n"
    "Numbers are decimal, or hex with a 0x prefix.\n",
    RunWrite};

int RunList(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(kList, "list takes no arguments");
  const auto converters = ListSupportedConverters();
  if (GlobalOptions().json) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& c : converters)
      list.push_back({{"path", c.path}, {"vendor_id", c.vendorId}, {"product_id", c.productId}, {"serial", c.serial},
                      {"product", c.product}});
    std::fprintf(Out(), "%s\n", list.dump(2).c_str());
  } else {
    for (const auto& c : converters)
      std::fputs(FormatString("%s  %04X:%04X  %s  %s\n", c.path.c_str(), static_cast<unsigned>(c.vendorId),
                              static_cast<unsigned>(c.productId), c.serial.empty() ? "-" : c.serial.c_str(),
                              c.product.c_str())
                     .c_str(),
                 Out());
  }
  if (converters.empty()) {
    std::fputs("ktq: no supported converter found.\n", stderr);
    return kExitNoConverter;
  }
  return kExitOk;
}

int RunRead(const std::vector<std::string>& args) {
  uint64_t address = 0, length = 0;
  if (args.size() != 2) return UsageError(kRead, "read takes ADDRESS and LENGTH");
  if (!ParseNumber(args[0], 0xFFFFFFFF, address)) return UsageError(kRead, "bad ADDRESS: " + args[0]);
  if (!ParseNumber(args[1], kMaxReadLength, length) || length == 0)
    return UsageError(kRead, "LENGTH must be 1 to 1048576: " + args[1]);
  if (address + length > 0x100000000ull) return UsageError(kRead, "ADDRESS + LENGTH runs past 0xFFFFFFFF");
  if (int status = OpenConverter()) return status;
  std::vector<uint8_t> data(length);
  // The memory read itself, at any address: the register read helper
  // answers address 0 without asking the chip.
  const int32_t result = RCGetCommand(UPDC_READ_FROM_MEMORY, static_cast<uint32_t>(length),
                                      static_cast<uint32_t>(address), data.data());
  if (result != 0) return DeviceFailure("read", result);
  std::string text;
  for (size_t i = 0; i < data.size(); ++i) {
    if (i % 16 == 0) text += FormatString("%08X:", static_cast<unsigned>(address + i) & 0xFFFFFFFFu);
    text += FormatString(" %02X", static_cast<unsigned>(data[i]));
    if (i % 16 == 15 || i + 1 == data.size()) text += "\n";
  }
  std::fputs(text.c_str(), Out());
  return kExitOk;
}

int RunWrite(const std::vector<std::string>& args) {
  uint64_t address = 0;
  if (args.size() < 2) return UsageError(kWrite, "write takes ADDRESS and at least one BYTE");
  if (!ParseNumber(args[0], 0xFFFFFFFF, address)) return UsageError(kWrite, "bad ADDRESS: " + args[0]);
  std::vector<uint8_t> bytes;
  for (size_t i = 1; i < args.size(); ++i) {
    uint64_t b = 0;
    if (!ParseNumber(args[i], 0xFF, b)) return UsageError(kWrite, "bad BYTE: " + args[i]);
    bytes.push_back(static_cast<uint8_t>(b));
  }
  if (address + bytes.size() > 0x100000000ull) return UsageError(kWrite, "the bytes run past 0xFFFFFFFF");
  const std::string what = FormatString("About to write %zu byte%s to chip memory at 0x%08X.\n", bytes.size(),
                                        bytes.size() == 1 ? "" : "s", static_cast<unsigned>(address));
  if (int status = RequireConfirmationPossible(what)) return status;
  if (int status = OpenConverter(true)) return status;
  Identity identity;
  if (int status = IdentifyChip(nullptr, identity)) return status;
  if (int status = Confirm(DescribeConverter(identity) + what)) return status;
  const int32_t result = RCSetCommand(UPDC_WRITE_TO_MEMORY, static_cast<uint32_t>(bytes.size()),
                                      static_cast<uint32_t>(address), bytes.data());
  if (result != 0) return DeviceFailure("write", result);
  return kExitOk;
}

}  // namespace

void RegisterDeviceCommands(CommandTable& table) {
  table.Add(kList);
  table.Add(kRead);
  table.Add(kWrite);
}

}  // namespace ktq::cli

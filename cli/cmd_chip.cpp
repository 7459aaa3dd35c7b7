// info, reg: chip identification and register access by name through the
// register database of the identified chip.
#include <fnmatch.h>

#include <cstdio>
#include <string>
#include <vector>

#include "chipdb/chip_id.h"
#include "chipdb/register_db.h"
#include "cli/cli.h"
#include "device/rc_command.h"
#include "report/format.h"
#include "report/report_callbacks.h"

namespace ktq::cli {

namespace {

int RunInfo(const std::vector<std::string>& args);
int RunReg(const std::vector<std::string>& args);

const Command kInfo = {
    "info", "", "identify the converter's chip",
    "Opens the converter and identifies its chip: prints the chip type, the\n"
    "firmware version and the firmware name as the window shows them, then the\n"
    "register database variant loaded for the chip and its register count.\n"
    "Exit status 1 when the chip is not supported.\n",
    RunInfo};

const Command kReg = {
    "reg", "list [PATTERN] | read NAME | write NAME VALUE", "list, read and write registers by name",
    "Identifies the chip, loads its register database and then:\n"
    "  list [PATTERN]    prints address and name of every register, in database\n"
    "                    order; PATTERN is a wildcard pattern (* ? [...]) for the\n"
    "                    whole name, or without wildcards a part of the name\n"
    "  read NAME         reads the register and decodes every field\n"
    "  write NAME VALUE  writes a 32-bit value (decimal, or hex with 0x)\n"
    "Names are exact and case-sensitive.\n",
    RunReg};

void PrintToStderr(const char* text) { std::fputs(text, stderr); }
void PrintRemovedToStderr() { std::fputs("Device removed.\n", stderr); }

// Opens the converter and identifies the chip. `showIdentity` false keeps
// the identification lines off standard output (reg prints only its data)
// and sends status messages to standard error.
int OpenAndIdentify(bool showIdentity) {
  if (!showIdentity) RCSetCallbacks(PrintRemovedToStderr, nullptr, PrintToStderr, nullptr, nullptr);
  if (int status = OpenConverter()) return status;
  const int32_t result = RCIdentifyChip();
  if (result != 0) return DeviceFailure("chip identification", result);
  return kExitOk;
}

int RunInfo(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(kInfo, "info takes no arguments");
  if (int status = OpenAndIdentify(true)) return status;
  std::fputs(FormatString("Register database: variant %s, %u registers\n",
                          std::string(chipdb::LoadedVariant()).c_str(),
                          static_cast<unsigned>(RegisterList().size()))
                 .c_str(),
             stdout);
  return kExitOk;
}

bool Matches(const std::string& pattern, const std::string& name) {
  if (pattern.find_first_of("*?[") == std::string::npos) return name.find(pattern) != std::string::npos;
  return fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

int ListRegisters(const std::string& pattern) {
  std::string text;
  for (const RegisterEntry& entry : RegisterList()) {
    if (Matches(pattern, entry.name)) text += FormatString("0x%08X  %s\n", entry.address, entry.name.c_str());
  }
  if (text.empty()) {
    std::fprintf(stderr, "ktq: no register matches %s\n", pattern.c_str());
    return kExitOk;
  }
  std::fputs(text.c_str(), stdout);
  return kExitOk;
}

std::string BitRange(const chipdb::FieldInfo& f) {
  return f.width == 1 ? FormatString("[%u]", f.lsb) : FormatString("[%u:%u]", f.lsb + f.width - 1, f.lsb);
}

uint32_t FieldValue(uint32_t value, const chipdb::FieldInfo& f) {
  const uint32_t mask = f.width >= 32 ? 0xFFFFFFFFu : (1u << f.width) - 1;
  return f.lsb >= 32 ? 0 : (value >> f.lsb) & mask;
}

bool Describe(const std::string& name, chipdb::RegisterInfo& info) {
  if (chipdb::DescribeRegister(name, info)) return true;
  std::fprintf(stderr, "ktq: no register %s in database variant %s\n", name.c_str(),
               std::string(chipdb::LoadedVariant()).c_str());
  return false;
}

int ReadRegister(const std::string& name) {
  chipdb::RegisterInfo info;
  if (!Describe(name, info)) return kExitUsage;
  uint8_t bytes[4] = {};
  const int32_t result = RCReadRegister(info.address, 4, bytes);
  if (result != 0) return DeviceFailure("read", result);
  const uint32_t value = bytes[0] | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
                         (uint32_t{bytes[3]} << 24);
  std::string text = FormatString("%s at 0x%08X = 0x%08X (reset 0x%08X)\n", name.c_str(), info.address, value,
                                  info.reset);
  text += FormatString("  %s\n", std::string(info.description).c_str());
  for (const chipdb::FieldInfo& f : info.fields) {
    const uint32_t v = FieldValue(value, f);
    text += FormatString("  %-7s %s = 0x%X (%u), reset 0x%X: %s\n", BitRange(f).c_str(),
                         std::string(f.name).c_str(), v, v, f.reset, std::string(f.description).c_str());
  }
  std::fputs(text.c_str(), stdout);
  return kExitOk;
}

int WriteRegister(const std::string& name, uint32_t value) {
  chipdb::RegisterInfo info;
  if (!Describe(name, info)) return kExitUsage;
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  const int32_t result = RCWriteRegister(info.address, 4, bytes);
  if (result != 0) return DeviceFailure("write", result);
  return kExitOk;
}

int RunReg(const std::vector<std::string>& args) {
  const std::string action = args.empty() ? "" : args[0];
  uint64_t value = 0;
  if (action == "list" && args.size() <= 2) {
    if (int status = OpenAndIdentify(false)) return status;
    return ListRegisters(args.size() == 2 ? args[1] : "");
  }
  if (action == "read" && args.size() == 2) {
    if (int status = OpenAndIdentify(false)) return status;
    return ReadRegister(args[1]);
  }
  if (action == "write" && args.size() == 3) {
    if (!ParseNumber(args[2], 0xFFFFFFFF, value)) return UsageError(kReg, "bad VALUE: " + args[2]);
    if (int status = OpenAndIdentify(false)) return status;
    return WriteRegister(args[1], static_cast<uint32_t>(value));
  }
  return UsageError(kReg, "reg takes list [PATTERN], read NAME or write NAME VALUE");
}

}  // namespace

void RegisterChipCommands(CommandTable& table) {
  table.Add(kInfo);
  table.Add(kReg);
}

}  // namespace ktq::cli

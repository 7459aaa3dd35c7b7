// info, reg: chip identification and register access by name through the
// register database of the identified chip.
#include <fnmatch.h>

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>
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
    "Exit status 1 when the chip is not supported or its firmware version or\n"
    "name could not be read (the lines are printed all the same).\n"
    "--json prints an object with the keys path, serial, chip_type, chip_name,\n"
    "firmware_version, firmware_name (null when unreadable), register_database\n"
    "and registers.\n",
    RunInfo};

const Command kReg = {
    "reg", "list [PATTERN] | read NAME | write NAME VALUE", "list, read and write registers by name",
    "Identifies the chip, loads its register database and then:\n"
    "  list [PATTERN]    prints address and name of every register, in database\n"
    "                    order; PATTERN is a shell wildcard pattern (* ? [...])\n"
    "                    for the whole name, or without wildcards a part of the\n"
    "                    name; either way without regard to case. Exit status 1\n"
    "                    when nothing matches.\n"
    "  read NAME         reads the register and decodes every field\n"
    "  write NAME VALUE  writes a 32-bit value (decimal, or hex with 0x) after\n"
    "                    showing the converter and asking (see --yes)\n"
    "Names are exact and case-sensitive.\n"
    "--json: reg list prints an array of {name, address}; reg read an object\n"
    "with name, address, value, reset and fields [{name, bits, value}].\n",
    RunReg, "list read write"};

// Opens the converter and identifies the chip; the identification lines go
// to `infoOut` (null: not shown).
int OpenAndIdentify(std::FILE* infoOut, Identity& identity, bool mustBeOnly = false) {
  if (int status = OpenConverter(mustBeOnly)) return status;
  return IdentifyChip(infoOut, identity);
}

const char* ChipName(uint32_t type) { return type == 6 ? "Mondelo" : type == 5 ? "Tarvik" : "Unknow"; }

int RunInfo(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(kInfo, "info takes no arguments");
  Identity identity;
  const bool json = GlobalOptions().json;
  if (int status = OpenAndIdentify(json ? nullptr : Out(), identity)) return status;
  const std::string variant(chipdb::LoadedVariant());
  const auto registers = static_cast<unsigned>(RegisterList().size());
  if (json) {
    nlohmann::json info = {{"path", identity.path},
                           {"serial", identity.serial},
                           {"chip_type", identity.chipType},
                           {"chip_name", ChipName(identity.chipType)},
                           {"firmware_version", nullptr},
                           {"firmware_name", nullptr},
                           {"register_database", variant},
                           {"registers", registers}};
    if (!identity.firmwareVersion.empty()) info["firmware_version"] = identity.firmwareVersion;
    if (!identity.firmwareName.empty()) info["firmware_name"] = identity.firmwareName;
    std::fprintf(Out(), "%s\n", info.dump(2).c_str());
  } else {
    std::fputs(FormatString("Register database: variant %s, %u registers\n", variant.c_str(), registers).c_str(),
               Out());
  }
  // Every identity field was asked for: a missing one is no success.
  int status = kExitOk;
  if (identity.firmwareVersion.empty()) {
    std::fputs("ktq: the firmware version could not be read.\n", stderr);
    status = kExitDeviceError;
  }
  if (identity.firmwareName.empty()) {
    std::fputs("ktq: the firmware name could not be read.\n", stderr);
    status = kExitDeviceError;
  }
  return status;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool Matches(const std::string& pattern, const std::string& name) {
  if (pattern.find_first_of("*?[") == std::string::npos) return Upper(name).find(Upper(pattern)) != std::string::npos;
  return fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

int ListRegisters(const std::string& pattern) {
  std::string text;
  nlohmann::json list = nlohmann::json::array();
  for (const RegisterEntry& entry : RegisterList()) {
    if (!Matches(pattern, entry.name)) continue;
    text += FormatString("0x%08X  %s\n", entry.address, entry.name.c_str());
    list.push_back({{"name", entry.name}, {"address", entry.address}});
  }
  if (GlobalOptions().json) std::fprintf(Out(), "%s\n", list.dump(2).c_str());
  else std::fputs(text.c_str(), Out());
  if (list.empty()) {
    std::fprintf(stderr, "ktq: no register matches %s\n", pattern.c_str());
    return kExitDeviceError;
  }
  return kExitOk;
}

// Map templates expand an index into arithmetic ("bytes 109*4 to 109*4+3");
// a reader wants the numbers ("bytes 436 to 439").
std::string WithArithmeticDone(std::string_view text) {
  std::string out;
  size_t i = 0;
  auto number = [&text](size_t& at, uint64_t& value) {
    const size_t start = at;
    value = 0;
    while (at < text.size() && at - start < 9 && std::isdigit(static_cast<unsigned char>(text[at])))
      value = value * 10 + static_cast<uint64_t>(text[at++] - '0');
    return at > start;
  };
  while (i < text.size()) {
    size_t at = i;
    uint64_t a = 0, b = 0, c = 0;
    const bool wordStart = i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]));
    if (wordStart && number(at, a) && at < text.size() && text[at] == '*' && ++at && number(at, b)) {
      uint64_t value = a * b;
      size_t end = at;
      if (end < text.size() && text[end] == '+') {
        size_t plus = end + 1;
        if (number(plus, c)) value += c, end = plus;
      }
      out += std::to_string(value);
      i = end;
      continue;
    }
    out += text[i++];
  }
  return out;
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
  const int32_t result = RCGetCommand(UPDC_READ_FROM_MEMORY, 4, info.address, bytes);
  if (result != 0) return DeviceFailure("read", result);
  const uint32_t value = bytes[0] | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
                         (uint32_t{bytes[3]} << 24);
  if (GlobalOptions().json) {
    nlohmann::json fields = nlohmann::json::array();
    for (const chipdb::FieldInfo& f : info.fields)
      fields.push_back({{"name", std::string(f.name)}, {"bits", BitRange(f)}, {"value", FieldValue(value, f)}});
    const nlohmann::json out = {{"name", name}, {"address", info.address}, {"value", value}, {"reset", info.reset},
                                {"fields", fields}};
    std::fprintf(Out(), "%s\n", out.dump(2).c_str());
    return kExitOk;
  }
  std::string text = FormatString("%s at 0x%08X = 0x%08X (reset 0x%08X)\n", name.c_str(), info.address, value,
                                  info.reset);
  text += FormatString("  %s\n", WithArithmeticDone(info.description).c_str());
  for (const chipdb::FieldInfo& f : info.fields) {
    const uint32_t v = FieldValue(value, f);
    text += FormatString("  %-7s %s = 0x%X (%u), reset 0x%X: %s\n", BitRange(f).c_str(),
                         std::string(f.name).c_str(), v, v, f.reset, WithArithmeticDone(f.description).c_str());
  }
  std::fputs(text.c_str(), Out());
  return kExitOk;
}

int WriteRegister(const std::string& name, uint32_t value, const Identity& identity) {
  chipdb::RegisterInfo info;
  if (!Describe(name, info)) return kExitUsage;
  if (int status = Confirm(DescribeConverter(identity) + FormatString("About to write 0x%08X to %s at 0x%08X.\n",
                                                                      value, name.c_str(), info.address)))
    return status;
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  const int32_t result = RCSetCommand(UPDC_WRITE_TO_MEMORY, 4, info.address, bytes);
  if (result != 0) return DeviceFailure("write", result);
  return kExitOk;
}

int RunReg(const std::vector<std::string>& args) {
  const std::string action = args.empty() ? "" : args[0];
  uint64_t value = 0;
  Identity identity;
  if (action == "list" && args.size() <= 2) {
    if (int status = OpenAndIdentify(nullptr, identity)) return status;
    return ListRegisters(args.size() == 2 ? args[1] : "");
  }
  if (action == "read" && args.size() == 2) {
    if (int status = OpenAndIdentify(nullptr, identity)) return status;
    return ReadRegister(args[1]);
  }
  if (action == "write" && args.size() == 3) {
    if (!ParseNumber(args[2], 0xFFFFFFFF, value)) return UsageError(kReg, "bad VALUE: " + args[2]);
    if (int status = RequireConfirmationPossible(FormatString("About to write 0x%08X to %s.\n",
                                                              static_cast<unsigned>(value), args[1].c_str())))
      return status;
    if (int status = OpenAndIdentify(nullptr, identity, true)) return status;
    return WriteRegister(args[1], static_cast<uint32_t>(value), identity);
  }
  return UsageError(kReg, "reg takes list [PATTERN], read NAME or write NAME VALUE");
}

}  // namespace

void RegisterChipCommands(CommandTable& table) {
  table.Add(kInfo);
  table.Add(kReg);
}

}  // namespace ktq::cli

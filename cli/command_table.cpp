#include "cli/cli.h"

namespace ktq::cli {

void RegisterDeviceCommands(CommandTable& table);
void RegisterChipCommands(CommandTable& table);
void RegisterEdidCommands(CommandTable& table);
void RegisterFirmwareCommands(CommandTable& table);
void RegisterDumpCommands(CommandTable& table);

void RegisterAllCommands(CommandTable& table) {
  RegisterDeviceCommands(table);
  RegisterChipCommands(table);
  RegisterEdidCommands(table);
  RegisterFirmwareCommands(table);
  RegisterDumpCommands(table);
}

const Command* CommandTable::Find(const std::string& name) const {
  for (const Command& c : commands_)
    if (name == c.name) return &c;
  return nullptr;
}

}  // namespace ktq::cli

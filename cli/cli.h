// The command table of ktq. Each group of commands lives in a file of its
// own (cmd_device.cpp: list, read, write) and is added with one line in
// command_table.cpp. Commands hold no device logic: they parse their
// arguments, call the RC operations and print what comes back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ktq::cli {

// Exit statuses of ktq (also in `ktq --help` and the README).
constexpr int kExitOk = 0;
constexpr int kExitDeviceError = 1;  // the device layer returned a failure, printed in hex
constexpr int kExitUsage = 2;        // bad command line
constexpr int kExitNoConverter = 3;  // no supported converter found or it could not be opened
constexpr int kExitSetup = 4;        // HID layer, scenario file or trace file could not be set up

struct Command {
  const char* name;
  const char* usage;    // arguments after the name, e.g. "ADDRESS LENGTH"
  const char* summary;  // one line for `ktq --help`
  const char* help;     // the rest of `ktq NAME --help`
  // Runs with the HID layer initialised and the report slots set; the
  // arguments follow the command name. Returns an exit status.
  int (*run)(const std::vector<std::string>& args);
};

class CommandTable {
 public:
  void Add(const Command& command) { commands_.push_back(command); }
  const Command* Find(const std::string& name) const;
  const std::vector<Command>& All() const { return commands_; }

 private:
  std::vector<Command> commands_;
};

// Every command group, in the order `ktq --help` lists them.
void RegisterAllCommands(CommandTable& table);

// Helpers for commands.

// A number as typed: 0x-prefixed hex or decimal, at most `max`.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& out);

// Opens the first supported converter; kExitOk, or kExitNoConverter after
// the device layer's message.
int OpenConverter();

// Prints "ktq: WHAT failed (result 0xRESULT)" to standard error and returns
// kExitDeviceError.
int DeviceFailure(const char* what, int32_t result);

// Prints "ktq: MESSAGE" and the command's usage line to standard error and
// returns kExitUsage.
int UsageError(const Command& command, const std::string& message);

}  // namespace ktq::cli

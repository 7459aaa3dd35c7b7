// The command table of ktq. Each group of commands lives in a file of its
// own (cmd_device.cpp: list, read, write) and is added with one line in
// command_table.cpp. Commands hold no device logic: they parse their
// arguments, call the RC operations and print what comes back.
//
// Everything a user sees of the command line is described here once: the
// exit statuses, the options and the commands. `--help`, the man page and
// the bash completion are all printed from these tables (docs_output.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ktq::cli {

// Exit statuses of ktq. They never carry a device's result bytes: those are
// printed in hex on standard error.
constexpr int kExitOk = 0;           // everything asked for was done
constexpr int kExitDeviceError = 1;  // the device refused or failed, or the result is incomplete
constexpr int kExitUsage = 2;        // bad command line, unusable input or no confirmation: nothing written
constexpr int kExitNoConverter = 3;  // no converter found, it vanished, or it cannot be opened (permissions)
constexpr int kExitSetup = 4;        // HID layer, scenario file or trace file could not be set up or written
constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C (128 + SIGINT, as shells report it)

struct ExitStatusInfo {
  int status;
  const char* meaning;
};
const std::vector<ExitStatusInfo>& ExitStatuses();

// Options are accepted anywhere on the command line, before or after the
// command. `commands` lists the commands an option applies to (space
// separated); null for options of every command.
struct OptionInfo {
  const char* name;       // "--device"
  char shortName;         // 'y', or 0
  const char* argument;   // "PATH"; null: a flag
  bool argumentOptional;  // --simulate[=FILE], --wait[=SECONDS]
  const char* commands;
  const char* help;
};
const std::vector<OptionInfo>& OptionTable();

// The values of the options given.
struct Options {
  bool help = false;
  bool version = false;
  bool simulate = false;
  std::string scenario;  // empty: the built-in default scenario
  std::string trace;
  bool traceGiven = false;
  std::string device;  // --device PATH
  std::string serial;  // --serial S
  bool yes = false;
  bool quiet = false;
  bool json = false;
  bool all = false;
  bool raw = false;
  bool wait = false;
  unsigned waitSeconds = 60;
  std::string generate;  // hidden: "man" or "bash" (used by the build)
};
const Options& GlobalOptions();

struct Command {
  const char* name;
  const char* usage;    // arguments after the name, e.g. "ADDRESS LENGTH"
  const char* summary;  // one line for `ktq --help`
  const char* help;     // the rest of `ktq NAME --help`
  // Runs with the HID layer initialised and the report slots set; the
  // arguments follow the command name (options already taken out). Returns
  // an exit status.
  int (*run)(const std::vector<std::string>& args);
  // Word completions of the first argument (bash completion), or null.
  const char* completions = nullptr;
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

// Where the requested output goes (the data a command was asked for).
// Everything else, messages and progress included, goes to standard error.
std::FILE* Out();

// Helpers for commands.

// Puts ktq's own report slots back: messages to standard error (none with
// -q), identification lines to standard error, removal noted.
void RestoreReportSlots();

// A number as typed: 0x-prefixed hex or decimal, at most `max`.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& out);

// Opens the converter chosen by --device/--serial, or the first one. With
// `mustBeOnly` (commands that write) several converters and no choice are
// refused with their list. kExitOk, or the exit status after a clear line
// on standard error (no converter, no access, several).
int OpenConverter(bool mustBeOnly = false);

// What identification found, for the confirmation and --json.
struct Identity {
  std::string path, serial;
  uint32_t chipType = 0;
  std::string firmwareVersion;  // empty when it could not be read
  std::string firmwareName;     // empty when it could not be read
};

// "Converter PATH (serial S), chip type T, firmware V "NAME".\n"
std::string DescribeConverter(const Identity& identity);

// RCIdentifyChip on the open converter. The identification lines go to
// `infoOut` (null: nowhere). A converter that vanished or does not answer is
// told apart from an unsupported chip. kExitOk or the exit status.
int IdentifyChip(std::FILE* infoOut, Identity& identity);

// The identity of the converter open now (path and serial from the listing).
void CurrentConverterListing(std::string& path, std::string& serial);

// Asks before a command writes: prints `what` (the converter and, for
// images, the file) to standard error and, without --yes, asks on the
// terminal. kExitOk when confirmed, else kExitUsage after saying why.
int Confirm(const std::string& what);
// The part of Confirm that needs no device: without --yes and without a
// terminal the command is refused before anything is sent.
int RequireConfirmationPossible(const std::string& what);

// Prints "ktq: WHAT failed (result 0xRESULT)" to standard error and returns
// kExitDeviceError.
int DeviceFailure(const char* what, int32_t result);

// Prints "ktq: MESSAGE" and the command's usage line to standard error and
// returns kExitUsage.
int UsageError(const Command& command, const std::string& message);

// An input file checked before use: a regular file (not a FIFO, device or
// folder) of at most `maxSize` bytes. Empty when fine, else the reason.
std::string CheckInputFile(const std::string& path, uint64_t maxSize, uint64_t* size = nullptr);
// An output path that can be replaced: a new name or a regular file, and not
// the same file as any of `inputs`. Empty when fine, else the reason.
std::string CheckOutputFile(const std::string& path, const std::vector<std::string>& inputs);

// Ctrl-C handling: what the first and second interrupt do while a command
// runs. kExit ends at once (nothing half-written is left behind);
// kStopAtSafePoint asks the operation to stop; kCritical (erase and flash
// write) warns on the first and stops after the current chunk on the second.
enum class InterruptMode { kExit, kStopAtSafePoint, kCritical };
void SetInterruptMode(InterruptMode mode);

}  // namespace ktq::cli

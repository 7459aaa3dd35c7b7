// The options of ktq and the exit-status table, and the parser that takes
// options from anywhere on the command line.
#include "cli/options.h"

#include "report/format.h"

namespace ktq::cli {

namespace {

Options options;

bool AppliesTo(const OptionInfo& o, const std::string& command) {
  if (!o.commands) return true;
  const std::string list = std::string(" ") + o.commands + " ";
  return list.find(" " + command + " ") != std::string::npos;
}

// Stores the value of option `o`; false with `error` set when it is bad.
bool Apply(const OptionInfo& o, const std::string& value, bool hasValue, std::string& error) {
  const std::string name = o.name;
  if (name == "--help") options.help = true;
  else if (name == "--version") options.version = true;
  else if (name == "--yes") options.yes = true;
  else if (name == "--quiet") options.quiet = true;
  else if (name == "--json") options.json = true;
  else if (name == "--all") options.all = true;
  else if (name == "--raw") options.raw = true;
  else if (name == "--simulate") {
    options.simulate = true;
    if (hasValue && value.empty()) return (error = "--simulate= needs a scenario file"), false;
    options.scenario = value;
  } else if (name == "--trace") {
    if (value.empty()) return (error = "--trace needs a file name"), false;
    options.trace = value;
    options.traceGiven = true;
  } else if (name == "--device") {
    if (value.empty()) return (error = "--device needs a device path (see 'ktq list')"), false;
    options.device = value;
  } else if (name == "--serial") {
    if (value.empty()) return (error = "--serial needs a serial number (see 'ktq list')"), false;
    options.serial = value;
  } else if (name == "--wait") {
    options.wait = true;
    if (hasValue) {
      const bool digits = !value.empty() && value.size() <= 5 && value.find_first_not_of("0123456789") == std::string::npos;
      if (!digits || std::stoul(value) == 0 || std::stoul(value) > 3600)
        return (error = "--wait=SECONDS takes 1 to 3600: " + value), false;
      options.waitSeconds = static_cast<unsigned>(std::stoul(value));
    }
  } else if (name == "--generate") {
    if (value != "man" && value != "bash") return (error = "--generate takes man or bash"), false;
    options.generate = value;
  }
  return true;
}

}  // namespace

const std::vector<ExitStatusInfo>& ExitStatuses() {
  static const std::vector<ExitStatusInfo> table = {
      {kExitOk, "success: everything asked for was done"},
      {kExitDeviceError, "the device refused or failed an operation (its result is printed in hex on standard error), "
                         "or the result is incomplete (what is missing is said on standard error)"},
      {kExitUsage, "bad command line, unusable input file, or a write not confirmed: nothing was written"},
      {kExitNoConverter, "no converter found, it vanished, or it cannot be opened (permissions)"},
      {kExitSetup, "set-up failure: the HID layer, the scenario file or the trace file"},
      {kExitInterrupted, "interrupted by Ctrl-C"},
  };
  return table;
}

const std::vector<OptionInfo>& OptionTable() {
  static const std::vector<OptionInfo> table = {
      {"--device", 0, "PATH", false, nullptr, "use the converter at PATH (as 'ktq list' shows it)"},
      {"--serial", 0, "SERIAL", false, nullptr, "use the converter with this serial number"},
      {"--yes", 'y', nullptr, false, "flash cascade write reg", "write without asking for confirmation"},
      {"--quiet", 'q', nullptr, false, nullptr, "print only errors and the requested output"},
      {"--json", 0, nullptr, false, "list info reg flash", "machine-readable output (JSON, keys in the README)"},
      {"--all", 0, nullptr, false, "flash", "update every attached converter of the same chip type at once"},
      {"--wait", 0, "SECONDS", true, "flash cascade",
       "after the update, wait (default 60 s) for the converter to restart and show its new firmware version"},
      {"--raw", 0, nullptr, false, "edid", "edid read: write the EDID bytes instead of the text"},
      {"--simulate", 0, "SCENARIO.json", true, nullptr,
       "use the virtual converter instead of attached devices (default: one type-5 converter)"},
      {"--trace", 0, "FILE", false, nullptr, "record every HID transfer to FILE"},
      {"--version", 0, nullptr, false, nullptr, "print the program version"},
      {"--help", 'h', nullptr, false, nullptr, "show this help (after a command: its help)"},
  };
  return table;
}

const Options& GlobalOptions() { return options; }

bool ParseCommandLine(int argc, const char* const* argv, const CommandTable& table, ParsedCommandLine& parsed,
                      std::string& error) {
  options = Options{};
  std::vector<std::pair<const OptionInfo*, std::string>> given;
  static const OptionInfo kGenerate = {"--generate", 0, "KIND", false, nullptr, nullptr};
  bool onlyArguments = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (onlyArguments || arg == "-" || arg.empty() || arg[0] != '-') {
      if (!parsed.command) {
        parsed.command = table.Find(arg);
        if (!parsed.command) return (error = "unknown command " + arg), false;
      } else {
        parsed.arguments.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      onlyArguments = true;
      continue;
    }
    // Short flags, possibly bundled (-yq).
    if (arg[1] != '-') {
      for (size_t k = 1; k < arg.size(); ++k) {
        const OptionInfo* found = nullptr;
        for (const OptionInfo& o : OptionTable())
          if (o.shortName == arg[k]) found = &o;
        if (!found) return (error = FormatString("unknown option -%c", arg[k])), false;
        Apply(*found, "", false, error);
        given.push_back({found, ""});
      }
      continue;
    }
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const OptionInfo* found = name == kGenerate.name ? &kGenerate : nullptr;
    for (const OptionInfo& o : OptionTable())
      if (name == o.name) found = &o;
    if (!found) return (error = "unknown option " + name), false;
    std::string value;
    const bool hasValue = eq != std::string::npos;
    if (hasValue) {
      if (!found->argument) return (error = name + " takes no value"), false;
      value = arg.substr(eq + 1);
    } else if (found->argument && !found->argumentOptional) {
      if (i + 1 >= argc) return (error = name + " needs " + found->argument), false;
      value = argv[++i];
    }
    if (!Apply(*found, value, hasValue, error)) return false;
    given.push_back({found, value});
  }
  for (const auto& [o, value] : given) {
    if (parsed.command && !AppliesTo(*o, parsed.command->name))
      return (error = FormatString("%s does not apply to %s", o->name, parsed.command->name)), false;
  }
  if (!options.device.empty() && !options.serial.empty())
    return (error = "give --device or --serial, not both"), false;
  if (options.all && (!options.device.empty() || !options.serial.empty()))
    return (error = "--all updates every converter; it takes no --device or --serial"), false;
  if (options.all && options.traceGiven)
    return (error = "--trace records one converter; use it with --device instead of --all"), false;
  return true;
}

}  // namespace ktq::cli

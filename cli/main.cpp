// ktq: the command-line front end. Sets up the HID backend (hidapi, or the
// virtual converter with --simulate), the optional wire trace and the report
// slots, then runs one command from the table.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "device/hid_session.h"
#include "frontend/backend_setup.h"
#include "report/report_callbacks.h"

namespace {

using namespace ktq::cli;

struct GlobalOptions {
  bool help = false;
  ktq::frontend::BackendOptions backend;
};

const char kGlobalHelp[] =
    "  -h, --help                  show this help (after a command: its help)\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the device reported a failure (its result is printed in hex)\n"
    "  2  bad command line\n"
    "  3  no supported converter found, or it could not be opened\n"
    "  4  the HID layer, the scenario file or the trace file could not be set up\n";

void PrintHelp(const CommandTable& table) {
  std::printf(
      "Usage: ktq [OPTIONS] COMMAND [ARGUMENTS]\n"
      "Maintenance tool for USB converters built on the KTQ chip family.\n"
      "\nCommands:\n");
  for (const Command& c : table.All()) std::printf("  %-8s %s\n", c.name, c.summary);
  std::printf("\nOptions:\n%s%s\n'ktq COMMAND --help' explains a command.\n", ktq::frontend::kBackendOptionsHelp,
              kGlobalHelp);
}

void PrintCommandHelp(const Command& c) { std::printf("Usage: ktq [OPTIONS] %s %s\n\n%s", c.name, c.usage, c.help); }

int GlobalUsageError(const std::string& message) {
  std::fprintf(stderr, "ktq: %s\nTry 'ktq --help'.\n", message.c_str());
  return kExitUsage;
}

// Device-logic reports, printed as they come.
void PrintText(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}
void PrintRemoved() { std::fputs("Device removed.\n", stderr); }

// Runs `command` with the HID layer up; the backend and the trace are set up
// around it and torn down in reverse order.
int RunWithDevice(const GlobalOptions& options, const Command& command, const std::vector<std::string>& args) {
  ktq::frontend::BackendSetup backend;
  std::string error;
  if (!backend.Start(options.backend, error)) {
    std::fprintf(stderr, "ktq: %s\n", error.c_str());
    return kExitSetup;
  }
  int status = kExitSetup;
  if (RCInit() == 0) {
    RCSetCallbacks(PrintRemoved, PrintText, PrintText, nullptr, nullptr);
    status = command.run(args);
  } else {
    std::fputs("ktq: the HID layer could not be initialised\n", stderr);
  }
  RCExit();
  RCSetCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
  backend.Stop();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  CommandTable table;
  RegisterAllCommands(table);

  GlobalOptions options;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      continue;
    }
    std::string error;
    const auto taken = ktq::frontend::TakeBackendOption(argc, argv, i, options.backend, error);
    if (taken == ktq::frontend::OptionResult::bad) return GlobalUsageError(error);
    if (taken == ktq::frontend::OptionResult::taken) continue;
    if (arg.rfind("-", 0) == 0) return GlobalUsageError("unknown option " + arg);
    break;
  }
  if (i >= argc) {
    if (options.help) {
      PrintHelp(table);
      return kExitOk;
    }
    return GlobalUsageError("no command given");
  }
  const Command* command = table.Find(argv[i]);
  if (!command) return GlobalUsageError(std::string("unknown command ") + argv[i]);
  std::vector<std::string> args(argv + i + 1, argv + argc);
  for (const auto& a : args) options.help = options.help || a == "-h" || a == "--help";
  if (options.help) {
    PrintCommandHelp(*command);
    return kExitOk;
  }
  return RunWithDevice(options, *command, args);
}

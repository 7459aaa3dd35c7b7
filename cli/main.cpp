// ktq: the command-line front end. Sets up the HID backend (hidapi, or the
// virtual converter with --simulate), the optional wire trace and the report
// slots, then runs one command from the table.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "device/hid_session.h"
#include "device/hidapi_backend.h"
#include "device/wire_trace.h"
#include "report/report_callbacks.h"
#include "sim/scenario.h"
#include "sim/simulation_file.h"

namespace {

using namespace ktq::cli;

struct GlobalOptions {
  bool help = false;
  bool simulate = false;
  std::string scenario;  // empty: the built-in default scenario; else a scenario or a trace to replay
  std::string trace;
  std::string replaySpeed;  // empty: as fast as possible
};

const char kGlobalHelp[] =
    "Options:\n"
    "  --simulate[=SCENARIO.json]  use the virtual converter instead of attached\n"
    "                              devices; without a file, one converter with a\n"
    "                              type-5 chip identity\n"
    "  --simulate=TRACE            replay a wire trace (--trace; plain, gzip or xz) as\n"
    "                              the converter it recorded; the first request\n"
    "                              that differs from the recording ends the replay\n"
    "  --replay-speed=FACTOR       replay the trace's timing, FACTOR times as fast\n"
    "                              (1: as recorded); default: as fast as possible\n"
    "  --trace FILE                record every HID transfer to FILE\n"
    "  -h, --help                  show this help (after a command: its help)\n"
    "\n"
    "Exit status:\n"
    "  0  success\n"
    "  1  the device reported a failure (its result is printed in hex), or a\n"
    "     replayed trace ended because the host departed from it\n"
    "  2  bad command line\n"
    "  3  no supported converter found, or it could not be opened\n"
    "  4  the HID layer, the scenario file or the trace file could not be set up\n";

void PrintHelp(const CommandTable& table) {
  std::printf(
      "Usage: ktq [OPTIONS] COMMAND [ARGUMENTS]\n"
      "Maintenance tool for USB converters built on the KTQ chip family.\n"
      "\nCommands:\n");
  for (const Command& c : table.All()) std::printf("  %-8s %s\n", c.name, c.summary);
  std::printf("\n%s\n'ktq COMMAND --help' explains a command.\n", kGlobalHelp);
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

void PrintReplayMessage(const std::string& message) { std::fprintf(stderr, "ktq: replay: %s\n", message.c_str()); }

// --simulate with a scenario (or none) or a trace to replay, installed.
bool SetUpSimulation(const GlobalOptions& options, ktq::sim::Simulation& simulation) {
  std::string error;
  bool loaded = true;
  if (options.scenario.empty()) {
    simulation.host = std::make_unique<ktq::sim::VirtualHost>();
    loaded = ktq::sim::LoadScenarioText(ktq::sim::DefaultScenarioText(), *simulation.host, error);
    error = "scenario: " + error;
  } else {
    loaded = ktq::sim::LoadSimulationFile(options.scenario, simulation, error);
  }
  if (!loaded) {
    std::fprintf(stderr, "ktq: %s\n", error.c_str());
    return false;
  }
  if (!options.replaySpeed.empty()) {
    char* end = nullptr;
    const double speed = std::strtod(options.replaySpeed.c_str(), &end);
    if (!simulation.replay || *end || !(speed > 0 && speed < 1e6)) {
      std::fprintf(stderr, "ktq: --replay-speed needs --simulate=TRACE and a factor above 0 (1: as recorded)\n");
      return false;
    }
    simulation.replay->SetSpeed(speed);
  }
  if (simulation.replay) simulation.replay->SetMessageSink(PrintReplayMessage);
  simulation.Install();
  return true;
}

// After a replayed command: a replay that ended early fails the run even if
// the command did not notice; recorded traffic left over is said.
int FinishReplay(const ktq::sim::TraceReplay& replay, int status) {
  if (const std::string unused = replay.UnusedTraffic(); !unused.empty()) PrintReplayMessage(unused);
  return !replay.Divergence().empty() && status == kExitOk ? kExitDeviceError : status;
}

// Runs `command` with the HID layer up; the backend and the trace are set up
// around it and torn down in reverse order.
int RunWithDevice(const GlobalOptions& options, const Command& command, const std::vector<std::string>& args) {
  ktq::sim::Simulation simulation;
  if (options.simulate && !SetUpSimulation(options, simulation)) return kExitSetup;
  if (!options.simulate) ktq::SetHidBackend(&ktq::HidapiBackend());
  if (!options.trace.empty()) {
    std::string error;
    if (!ktq::StartWireTrace(options.trace, error)) {
      std::fprintf(stderr, "ktq: %s\n", error.c_str());
      return kExitSetup;
    }
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
  if (simulation.replay) status = FinishReplay(*simulation.replay, status);
  ktq::StopWireTrace();
  simulation.Uninstall();
  ktq::SetHidBackend(nullptr);
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
    } else if (arg == "--simulate") {
      options.simulate = true;
    } else if (arg.rfind("--simulate=", 0) == 0) {
      options.simulate = true;
      options.scenario = arg.substr(11);
      if (options.scenario.empty()) return GlobalUsageError("--simulate= needs a scenario file");
    } else if (arg.rfind("--replay-speed=", 0) == 0) {
      options.replaySpeed = arg.substr(15);
    } else if (arg == "--replay-speed") {
      if (i + 1 >= argc) return GlobalUsageError("--replay-speed needs a factor");
      options.replaySpeed = argv[++i];
    } else if (arg == "--trace") {
      if (i + 1 >= argc) return GlobalUsageError("--trace needs a file");
      options.trace = argv[++i];
    } else if (arg.rfind("--trace=", 0) == 0) {
      options.trace = arg.substr(8);
      if (options.trace.empty()) return GlobalUsageError("--trace= needs a file");
    } else if (arg.rfind("-", 0) == 0) {
      return GlobalUsageError("unknown option " + arg);
    } else {
      break;
    }
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

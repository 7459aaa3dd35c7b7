// ktq: the command-line front end. Sets up the HID backend (hidapi, or the
// virtual converter with --simulate), the optional wire trace and the report
// slots, then runs one command from the table.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/options.h"
#include "device/hid_session.h"
#include "frontend/backend_setup.h"
#include "report/report_callbacks.h"

namespace ktq::cli {

namespace {

// The requested output. Standard output (file descriptor 1) itself is
// pointed at standard error while ktq runs, so that the device layer's
// transport diagnostics, which it prints there, never mix with the data.
std::FILE* requestedOutput = stdout;

// Scenario files are JSON text; a few megabytes is far beyond any real one.
constexpr uint64_t kMaxScenarioSize = 16u << 20;

void PrintMessage(const char* text) {
  std::fputs(text, stderr);
}
void PrintRemoved() { std::fputs("Device removed.\n", stderr); }

int GlobalUsageError(const std::string& message) {
  std::fprintf(stderr, "ktq: %s\nTry 'ktq --help'.\n", message.c_str());
  return kExitUsage;
}

// Runs `command` with the HID layer up; the backend and the trace are set up
// around it and torn down in reverse order.
int RunWithDevice(const Command& command, const std::vector<std::string>& args) {
  const Options& options = GlobalOptions();
  // Inputs first, outputs after: a bad input must not cost an existing file.
  if (options.simulate && !options.scenario.empty()) {
    if (const std::string problem = CheckInputFile(options.scenario, kMaxScenarioSize); !problem.empty()) {
      std::fprintf(stderr, "ktq: scenario: %s\n", problem.c_str());
      return kExitSetup;
    }
  }
  if (options.traceGiven) {
    std::vector<std::string> inputs = args;
    inputs.push_back(options.scenario);
    if (const std::string problem = CheckOutputFile(options.trace, inputs); !problem.empty()) {
      std::fprintf(stderr, "ktq: --trace: %s\n", problem.c_str());
      return kExitUsage;
    }
  }
  ktq::frontend::BackendOptions backendOptions;
  backendOptions.simulate = options.simulate;
  backendOptions.scenario = options.scenario;
  backendOptions.trace = options.trace;
  ktq::frontend::BackendSetup backend;
  if (std::string error; !backend.Start(backendOptions, error)) {
    std::fprintf(stderr, "ktq: %s\n", error.c_str());
    return kExitSetup;
  }
  int status = kExitSetup;
  if (RCInit() == 0) {
    RestoreReportSlots();
    status = command.run(args);
  } else {
    std::fputs("ktq: the HID layer could not be initialised\n", stderr);
  }
  RCExit();
  RCSetCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
  if (std::string traceError; !backend.Stop(&traceError)) {
    std::fprintf(stderr, "ktq: %s\n", traceError.c_str());
    if (status == kExitOk) status = kExitSetup;
  }
  return status;
}

}  // namespace

std::FILE* Out() { return requestedOutput; }

void RestoreReportSlots() {
  RCSetCallbacks(PrintRemoved, PrintMessage, GlobalOptions().quiet ? nullptr : PrintMessage, nullptr, nullptr);
}

}  // namespace ktq::cli

int main(int argc, char** argv) {
  using namespace ktq::cli;
  // Keep the real standard output for the requested output only.
  if (const int outFd = ::dup(STDOUT_FILENO); outFd >= 0) {
    if (std::FILE* out = ::fdopen(outFd, "w")) {
      ::dup2(STDERR_FILENO, STDOUT_FILENO);
      std::setvbuf(stdout, nullptr, _IONBF, 0);
      requestedOutput = out;
    }
  }
  SetInterruptMode(InterruptMode::kExit);

  CommandTable table;
  RegisterAllCommands(table);
  ParsedCommandLine parsed;
  std::string error;
  int status = kExitOk;
  if (!ParseCommandLine(argc, argv, table, parsed, error)) {
    status = GlobalUsageError(error);
  } else if (!GlobalOptions().generate.empty()) {
    if (GlobalOptions().generate == "man") PrintManPage(Out(), table);
    else PrintBashCompletion(Out(), table);
  } else if (GlobalOptions().version) {
    std::fputs("ktq " KTQ_TOOL_VERSION "\n", Out());
  } else if (GlobalOptions().help) {
    if (parsed.command) PrintCommandHelp(Out(), *parsed.command);
    else PrintHelp(Out(), table);
  } else if (!parsed.command) {
    status = GlobalUsageError("no command given");
  } else {
    status = RunWithDevice(*parsed.command, parsed.arguments);
  }
  if (std::fflush(Out()) != 0 || std::ferror(Out())) {
    std::perror("ktq: standard output");
    if (status == kExitOk) status = kExitSetup;
  }
  return status;
}

#include "frontend/backend_setup.h"

#include <cstdio>
#include <cstdlib>

#include "device/hid_session.h"
#include "device/hidapi_backend.h"
#include "device/wire_trace.h"
#include "sim/scenario.h"
#include "sim/simulation_file.h"

namespace ktq::frontend {

const char kBackendOptionsHelp[] =
    "  --simulate[=SCENARIO.json]  use the virtual converter instead of attached\n"
    "                              devices; without a file, one converter with a\n"
    "                              type-5 chip identity\n"
    "  --simulate=TRACE            replay a wire trace (--trace; plain, gzip or xz)\n"
    "                              as the converter it recorded; the first request\n"
    "                              that differs from the recording ends the replay\n"
    "  --replay-speed=FACTOR       replay the trace's timing, FACTOR times as fast\n"
    "                              (1: as recorded); default: as fast as possible\n"
    "  --trace FILE                record every HID transfer to FILE\n";

OptionResult TakeBackendOption(int argc, char** argv, int& i, BackendOptions& options, std::string& error) {
  const std::string arg = argv[i];
  if (arg == "--simulate") {
    options.simulate = true;
  } else if (arg.rfind("--simulate=", 0) == 0) {
    options.simulate = true;
    options.scenario = arg.substr(11);
    if (options.scenario.empty()) {
      error = "--simulate= needs a scenario file";
      return OptionResult::bad;
    }
  } else if (arg.rfind("--replay-speed=", 0) == 0) {
    options.replaySpeed = arg.substr(15);
  } else if (arg == "--replay-speed") {
    if (i + 1 >= argc) {
      error = "--replay-speed needs a factor";
      return OptionResult::bad;
    }
    options.replaySpeed = argv[++i];
  } else if (arg == "--trace") {
    // An empty name would silently record nothing.
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
      error = "--trace needs a file";
      return OptionResult::bad;
    }
    options.trace = argv[++i];
  } else if (arg.rfind("--trace=", 0) == 0) {
    options.trace = arg.substr(8);
    if (options.trace.empty()) {
      error = "--trace= needs a file";
      return OptionResult::bad;
    }
  } else {
    return OptionResult::notMine;
  }
  return OptionResult::taken;
}

namespace {

void PrintReplayMessage(const std::string& message) { std::fprintf(stderr, "ktq: replay: %s\n", message.c_str()); }

}  // namespace

BackendSetup::BackendSetup() = default;

// A scenario's virtual host or a trace's replay, installed.
bool BackendSetup::StartSimulation(const BackendOptions& options, std::string& error) {
  auto simulation = std::make_unique<sim::Simulation>();
  if (options.scenario.empty()) {
    simulation->host = std::make_unique<sim::VirtualHost>();
    if (!sim::LoadScenarioText(sim::DefaultScenarioText(), *simulation->host, error)) {
      error = "scenario: " + error;
      return false;
    }
  } else if (!sim::LoadSimulationFile(options.scenario, *simulation, error)) {
    return false;
  }
  if (!options.replaySpeed.empty()) {
    char* end = nullptr;
    const double speed = std::strtod(options.replaySpeed.c_str(), &end);
    if (!simulation->replay || *end || !(speed > 0 && speed < 1e6)) {
      error = "--replay-speed needs --simulate=TRACE and a factor above 0 (1: as recorded)";
      return false;
    }
    simulation->replay->SetSpeed(speed);
  }
  if (simulation->replay) simulation->replay->SetMessageSink(PrintReplayMessage);
  simulation->Install();
  simulation_ = std::move(simulation);
  return true;
}

const sim::TraceReplay* BackendSetup::Replay() const { return simulation_ ? simulation_->replay.get() : nullptr; }

BackendSetup::~BackendSetup() { Stop(); }

bool BackendSetup::Start(const BackendOptions& options, std::string& error) {
  Stop();
  if (options.simulate) {
    if (!StartSimulation(options, error)) return false;
  } else {
    SetHidBackend(&HidapiBackend());
  }
  installed_ = true;
  if (!options.trace.empty()) {
    if (!StartWireTrace(options.trace, error)) {
      Stop();
      return false;
    }
    tracing_ = true;
  }
  return true;
}

bool BackendSetup::Stop(std::string* traceError) {
  const bool traced = !tracing_ || StopWireTrace(traceError);
  tracing_ = false;
  if (simulation_) simulation_->Uninstall();
  simulation_.reset();
  if (installed_) SetHidBackend(nullptr);
  installed_ = false;
  return traced;
}

}  // namespace ktq::frontend

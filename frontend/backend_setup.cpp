#include "frontend/backend_setup.h"

#include "device/hid_session.h"
#include "device/hidapi_backend.h"
#include "device/wire_trace.h"
#include "sim/scenario.h"
#include "sim/virtual_host.h"

namespace ktq::frontend {

const char kBackendOptionsHelp[] =
    "  --simulate[=SCENARIO.json]  use the virtual converter instead of attached\n"
    "                              devices; without a file, one converter with a\n"
    "                              type-5 chip identity\n"
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

BackendSetup::BackendSetup() = default;

BackendSetup::~BackendSetup() { Stop(); }

bool BackendSetup::Start(const BackendOptions& options, std::string& error) {
  Stop();
  if (options.simulate) {
    host_ = std::make_unique<sim::VirtualHost>();
    const bool loaded = options.scenario.empty() ? sim::LoadScenarioText(sim::DefaultScenarioText(), *host_, error)
                                                 : sim::LoadScenarioFile(options.scenario, *host_, error);
    if (!loaded) {
      error = "scenario: " + error;
      host_.reset();
      return false;
    }
    host_->Install();
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
  if (host_) host_->Uninstall();
  host_.reset();
  if (installed_) SetHidBackend(nullptr);
  installed_ = false;
  return traced;
}

}  // namespace ktq::frontend

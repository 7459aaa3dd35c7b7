// What the two front ends (ktq and the window) share: the options that pick
// the HID backend and the wire trace, and setting both up around a session.
//
//   --simulate[=SCENARIO.json]  the virtual converter instead of hidapi
//   --trace FILE                record every HID transfer to FILE
#pragma once

#include <memory>
#include <string>

namespace ktq::sim {
class VirtualHost;
}

namespace ktq::frontend {

struct BackendOptions {
  bool simulate = false;
  std::string scenario;  // empty: the built-in default scenario
  std::string trace;     // empty: no trace
};

enum class OptionResult {
  notMine,  // argv[i] is not a backend option
  taken,    // taken into the options (i advanced past a separate value)
  bad,      // a backend option without its value; error says which
};

// Looks at argv[i] and takes it when it is one of the options above.
OptionResult TakeBackendOption(int argc, char** argv, int& i, BackendOptions& options, std::string& error);

// The options' lines for a help text, indented by two spaces.
extern const char kBackendOptionsHelp[];

// Installs the chosen backend and starts the trace; Stop (or the destructor)
// undoes both in reverse order. RCInit comes after Start, RCExit before Stop.
class BackendSetup {
 public:
  BackendSetup();
  ~BackendSetup();
  BackendSetup(const BackendSetup&) = delete;
  BackendSetup& operator=(const BackendSetup&) = delete;

  // False with `error` set ("scenario: ..." or the trace file's problem);
  // nothing is left installed then.
  bool Start(const BackendOptions& options, std::string& error);
  // False when the trace could not be written whole (`traceError` says why,
  // if given): a trace that lost lines must not pass for a complete one.
  bool Stop(std::string* traceError = nullptr);

 private:
  std::unique_ptr<sim::VirtualHost> host_;
  bool installed_ = false;
  bool tracing_ = false;
};

}  // namespace ktq::frontend

// What `--simulate=FILE` stands for: a scenario (JSON, docs/simulator.md)
// that sets up virtual converters, or a wire trace that replays a recorded
// session (sim/trace_replay.h). Either may be gzip-compressed.
#pragma once

#include <memory>
#include <string>

#include "sim/trace_replay.h"
#include "sim/virtual_host.h"

namespace ktq::sim {

// One of the two, ready to be installed behind the HID seam.
struct Simulation {
  std::unique_ptr<VirtualHost> host;
  std::unique_ptr<TraceReplay> replay;

  void Install();
  void Uninstall();
};

// Decides by content, not by name: after any blank space, '{' or '[' starts
// a scenario; a first line (past blank and '#' lines) that starts with a
// digit is a trace. False with `error` ("trace: PATH: line 3: ...",
// "scenario: PATH: ...") when the file cannot be read, is neither, or is not
// valid as what it looks like.
bool LoadSimulationFile(const std::string& path, Simulation& simulation, std::string& error);

}  // namespace ktq::sim

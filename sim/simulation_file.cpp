#include "sim/simulation_file.h"

#include "device/wire_trace_format.h"
#include "sim/compressed_file.h"
#include "sim/scenario.h"

namespace ktq::sim {

void Simulation::Install() {
  if (host) host->Install();
  if (replay) replay->Install();
}

void Simulation::Uninstall() {
  if (replay) replay->Uninstall();
  if (host) host->Uninstall();
}

bool LoadSimulationFile(const std::string& path, Simulation& simulation, std::string& error) {
  std::string text;
  if (!ReadPossiblyCompressedFile(path, text, error)) {
    error = "scenario: " + error;
    return false;
  }
  const char* kind = "scenario";
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && (text[first] == '{' || text[first] == '[')) {
    simulation.host = std::make_unique<VirtualHost>();
    if (LoadScenarioText(text, *simulation.host, error)) return true;
  } else if (LooksLikeTrace(text)) {
    kind = "trace";
    simulation.replay = TraceReplay::FromText(text, error);
    if (simulation.replay) return true;
  } else {
    error = "neither a scenario (a JSON object) nor a wire trace (lines of <microseconds> <WORD> ...)";
  }
  simulation = Simulation{};
  error = std::string(kind) + ": " + path + ": " + error;
  return false;
}

}  // namespace ktq::sim

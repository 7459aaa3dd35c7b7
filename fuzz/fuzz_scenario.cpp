// Scenario files are user input: any text must load or be refused cleanly.
// Scenarios that save state at exit are skipped: the fuzzer would write files
// wherever a mutated path points.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // The key can only be spelt with escapes when the text has a backslash;
  // parsing every input twice would cost a tenth of the runs.
  if (text.find("save_at_exit") != std::string::npos) return 0;
  if (text.find('\\') != std::string::npos) {
    const auto parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_object() && parsed.contains("save_at_exit")) return 0;
  }
  ktq::sim::VirtualHost host;
  std::string error;
  ktq::sim::LoadScenarioText(text, host, error);
  return 0;
}

// Scenario files are user input: any text must load or be refused cleanly.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ktq::sim::VirtualHost host;
  std::string error;
  ktq::sim::LoadScenarioText(std::string(reinterpret_cast<const char*>(data), size), host, error);
  return 0;
}

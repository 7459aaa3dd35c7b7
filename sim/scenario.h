// Scenario files: JSON that sets up a virtual host with its converters
// (schema: docs/simulator.md).
#pragma once

#include <string>

#include "sim/virtual_host.h"

namespace ktq::sim {

// Adds the scenario's devices to `host` and applies its sections. False with
// `error` set ("devices[0]: memory: ...") when the text is not a valid
// scenario; `host` may then be partly filled and should be discarded.
bool LoadScenarioText(const std::string& text, VirtualHost& host, std::string& error);

// The same from a file; a missing, unreadable or empty file is an error.
bool LoadScenarioFile(const std::string& path, VirtualHost& host, std::string& error);

// The scenario `--simulate` uses without a file: one converter in RC mode
// with a type-5 chip (date code 0x20201105 at 0x20200D30, the registers of
// map variant 5 and the default identity of docs/simulator.md).
const std::string& DefaultScenarioText();

}  // namespace ktq::sim

// Parsed register maps, kept for the life of the process: a scenario with
// several converters, or a program that loads many scenarios, reads each
// map source once while its files stay as they were.
#pragma once

#include <memory>
#include <string>

#include "tools/regmap/regmap.h"

namespace ktq::sim {

// The map of the top-level source `path`, parsed again when any file it
// read has changed size or modification time since. Null with `error` set
// when it does not parse.
std::shared_ptr<const regmap::Map> LoadRegisterMap(const std::string& path, std::string& error);

}  // namespace ktq::sim

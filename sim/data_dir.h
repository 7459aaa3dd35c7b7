// Where the virtual converter finds its data files.
#pragma once

#include <string>

namespace ktq::sim {

// The folder that holds chipdb/maps and sim/scenarios: the source tree the
// program was built from while it is there, else the data folder of an
// installed copy, <prefix>/share/ktq-tool beside <prefix>/bin. Scenarios name
// their EDID files relative to it.
const std::string& SimDataDir();

}  // namespace ktq::sim

// SHA-256 of a file's bytes, shown before an image is written so that a
// technician can compare it with the one the firmware was published with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ktq::cli {

// Lower-case hex digest.
std::string Sha256Hex(const std::vector<uint8_t>& bytes);

}  // namespace ktq::cli

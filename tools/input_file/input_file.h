// Reading a file that a user named: it must be a regular file no larger than
// the limit its kind allows, checked on the opened file itself. A directory,
// a FIFO, a terminal or a device such as /dev/zero is refused at once instead
// of blocking for a writer or growing without bound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ktq::input {

// Reads all of `path` into `out`. False with `error` set ("PATH: is not a
// regular file", "PATH: holds N bytes, more than the M a ... may hold") when
// it cannot. `what` names the kind of file in the size message.
bool ReadInputFile(const std::string& path, uint64_t maxBytes, const char* what, std::vector<uint8_t>& out,
                   std::string& error);
bool ReadInputFile(const std::string& path, uint64_t maxBytes, const char* what, std::string& out,
                   std::string& error);

}  // namespace ktq::input

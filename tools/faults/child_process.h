// Runs one program to its end or to a wall-clock limit, its output in files.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace ktq::faults {

struct ChildResult {
  bool started = false;
  bool timedOut = false;  // killed at the limit
  int exitStatus = -1;    // when it exited
  int signal = 0;         // when a signal ended it
  std::chrono::milliseconds wall{0};
};

// Runs `argv` in `workDir` with standard input from /dev/null and standard
// output and error into the two files.
ChildResult RunChild(const std::vector<std::string>& argv, const std::string& workDir, const std::string& outFile,
                     const std::string& errFile, std::chrono::milliseconds limit);

}  // namespace ktq::faults

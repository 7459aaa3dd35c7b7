// Runs ktq as a user would and collects what it printed and its exit status.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace ktq::testing {

struct KtqRun {
  int status;  // exit status, -1 when ktq did not exit normally
  std::string out;
  std::string err;
};

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the shell command `command` (one that ends in a ktq call) with its
// standard output and error in files that start with `filePrefix`; tests
// running in parallel give each a prefix of its own.
inline KtqRun RunKtqCommand(const std::string& command, const std::string& filePrefix) {
  const std::string out = filePrefix + "out.txt", err = filePrefix + "err.txt";
  const int raw = std::system((command + " >" + out + " 2>" + err).c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
}

}  // namespace ktq::testing

// Runs the ktq program as a user would and captures what it prints.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace ktq::testing {

struct KtqRun {
  int status;
  std::string out;
  std::string err;
};

inline std::string SlurpFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// `files` is a path prefix of the caller's own (tests run in parallel).
inline KtqRun RunKtq(const std::string& arguments, const std::string& files) {
  const std::string out = files + "out.txt", err = files + "err.txt";
  const std::string command = std::string(KTQ_BINARY_DIR "/bin/ktq ") + arguments + " >" + out + " 2>" + err;
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, SlurpFile(out), SlurpFile(err)};
}

// Runs a shell command line as it is, capturing the same way.
inline KtqRun RunShell(const std::string& commandLine, const std::string& files) {
  const std::string out = files + "out.txt", err = files + "err.txt";
  const int raw = std::system((commandLine + " >" + out + " 2>" + err).c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, SlurpFile(out), SlurpFile(err)};
}

}  // namespace ktq::testing

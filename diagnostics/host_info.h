// The host block of the diagnostic dump: what the computer the converter is
// attached to is, as the platform itself describes it.
#pragma once

#include <string>

namespace ktq::diag {

struct HostFacts {
  std::string os;        // "Debian GNU/Linux 12 (bookworm)"; empty when unknown
  std::string hardware;  // DMI product name
  std::string cpu;       // first processor's model name
};

// Reads the facts from os-release, the DMI product name and /proc/cpuinfo
// below `root` ("" for the running system; tests pass a folder of their
// own). A fact that cannot be read stays empty.
HostFacts ReadHostFacts(const std::string& root = "");

// One "\r\n"-ended line per known fact: "OS: ...", "Hardware model: ...",
// "CPU: ..."; nothing for an unknown one.
std::string HostInfoText(const HostFacts& facts);

}  // namespace ktq::diag

// Appends the host block of the running system to `text`.
void AppendHostInfo(std::string& text);

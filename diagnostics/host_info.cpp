#include "diagnostics/host_info.h"

#include <fstream>
#include <string_view>

#include "report/format.h"

namespace ktq::diag {

namespace {

// The longest line we take from a host file: the dump is no place for a
// runaway value, and a damaged file must not bloat it.
constexpr size_t kMaxFact = 200;

std::string Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return "";
  const size_t last = s.find_last_not_of(" \t\r\n");
  std::string out(s.substr(first, last - first + 1));
  // Control characters would break the dump's line structure.
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  if (out.size() > kMaxFact) out.resize(kMaxFact);
  return out;
}

// The value of KEY=VALUE in an os-release file, quotes removed.
std::string OsReleaseValue(const std::string& path, std::string_view key) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 || line[key.size()] != '=') continue;
    std::string_view value = std::string_view(line).substr(key.size() + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return Trim(value);
  }
  return "";
}

std::string OperatingSystem(const std::string& root) {
  for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
    const std::string path = root + file;
    if (!std::ifstream(path)) continue;
    std::string pretty = OsReleaseValue(path, "PRETTY_NAME");
    if (!pretty.empty()) return pretty;
    const std::string name = OsReleaseValue(path, "NAME");
    const std::string version = OsReleaseValue(path, "VERSION_ID");
    if (name.empty()) return "";
    return version.empty() ? name : name + " " + version;
  }
  return "";
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return Trim(line);
}

std::string CpuModel(const std::string& root) {
  std::ifstream in(root + "/proc/cpuinfo");
  std::string line;
  // x86 names the model per processor; ARM kernels give "Model" once.
  for (const std::string_view key : {"model name", "Model"}) {
    in.clear();
    in.seekg(0);
    while (std::getline(in, line)) {
      if (line.compare(0, key.size(), key) != 0) continue;
      const size_t colon = line.find(':');
      if (colon == std::string::npos || Trim(std::string_view(line).substr(0, colon)) != key) continue;
      return Trim(std::string_view(line).substr(colon + 1));
    }
  }
  return "";
}

}  // namespace

HostFacts ReadHostFacts(const std::string& root) {
  HostFacts f;
  f.os = OperatingSystem(root);
  f.hardware = FirstLine(root + "/sys/class/dmi/id/product_name");
  f.cpu = CpuModel(root);
  return f;
}

std::string HostInfoText(const HostFacts& facts) {
  std::string text;
  if (!facts.os.empty()) text += FormatString("OS: %s\r\n", facts.os.c_str());
  if (!facts.hardware.empty()) text += FormatString("Hardware model: %s\r\n", facts.hardware.c_str());
  if (!facts.cpu.empty()) text += FormatString("CPU: %s\r\n", facts.cpu.c_str());
  return text;
}

}  // namespace ktq::diag

void AppendHostInfo(std::string& text) { text += ktq::diag::HostInfoText(ktq::diag::ReadHostFacts()); }

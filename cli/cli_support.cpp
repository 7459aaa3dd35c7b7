#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cli/cli.h"
#include "device/hid_session.h"

namespace ktq::cli {

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& out) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 16 ||
      digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
    return false;
  errno = 0;
  out = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  return errno == 0 && out <= max;
}

int OpenConverter() { return RCEnumAndOpenDevice() == 0 ? kExitOk : kExitNoConverter; }

int DeviceFailure(const char* what, int32_t result) {
  std::fprintf(stderr, "ktq: %s failed (result 0x%X)\n", what, static_cast<unsigned>(result));
  return kExitDeviceError;
}

int UsageError(const Command& command, const std::string& message) {
  std::fprintf(stderr, "ktq: %s\nUsage: ktq [OPTIONS] %s %s\n", message.c_str(), command.name, command.usage);
  return kExitUsage;
}

}  // namespace ktq::cli

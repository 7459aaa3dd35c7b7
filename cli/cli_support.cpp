// Helpers shared by the commands: choosing and opening the converter,
// identifying its chip, asking before writing, checking files, Ctrl-C.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "chipdb/chip_id.h"
#include "cli/cli.h"
#include "device/hid_session.h"
#include "device/rc_command.h"
#include "report/format.h"
#include "report/report_callbacks.h"
#include "operations/operation_stop.h"

namespace ktq::cli {

namespace {

constexpr uint32_t kDateCodeAddress = 0x20200D30;

std::string openPath, openSerial;  // the converter open now

std::string ConverterLine(const ConverterListing& c) {
  return FormatString("%s  %04X:%04X  serial %s  %s", c.path.c_str(), static_cast<unsigned>(c.vendorId),
                      static_cast<unsigned>(c.productId), c.serial.empty() ? "-" : c.serial.c_str(),
                      c.product.c_str());
}

std::string Families() {
  std::string text;
  for (uint16_t f : SupportedProductFamilies()) text += FormatString("%s%04X:%02Xxx", text.empty() ? "" : ", ",
                                                                     SupportedVendorId(), f >> 8);
  return text;
}

int NoConverter() {
  const auto all = ListHidDevices();
  std::fprintf(stderr, "ktq: no converter found (looked for USB IDs %s).\n", Families().c_str());
  if (all.empty()) {
    std::fputs("ktq: no HID device is attached at all: check the cable and the hub, then run 'ktq list'.\n", stderr);
  } else {
    std::fputs("ktq: attached HID devices:\n", stderr);
    for (const auto& d : all) std::fprintf(stderr, "  %s\n", ConverterLine(d).c_str());
    std::fputs("ktq: run 'ktq list' once the converter is plugged in.\n", stderr);
  }
  return kExitNoConverter;
}

int NoAccess(const std::string& path) {
  std::fprintf(stderr,
               "ktq: the converter at %s cannot be opened: most likely no permission for the hidraw node "
               "(ls -l %s). Install the udev rule (see the README, 'Access to the converter'), then re-plug "
               "the converter.\n",
               path.c_str(), path.c_str());
  return kExitNoConverter;
}

// Collects identification lines so that they can be shown (or not) once
// it is known what they mean.
std::string infoLines, messageLines;
void CollectInfo(const char* text) { infoLines += text; }
void CollectMessage(const char* text) { messageLines += text; }

std::string Between(const std::string& text, const std::string& prefix) {
  const size_t at = text.find(prefix);
  if (at == std::string::npos) return "";
  const size_t end = text.find('\n', at);
  return text.substr(at + prefix.size(), end == std::string::npos ? std::string::npos : end - at - prefix.size());
}

// Ctrl-C: see InterruptMode.
std::atomic<int> interruptMode{static_cast<int>(InterruptMode::kExit)};
std::atomic<int> interrupts{0};

void Say(const char* text) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void OnInterrupt(int) {
  const int n = ++interrupts;
  switch (static_cast<InterruptMode>(interruptMode.load())) {
    case InterruptMode::kExit:
      Say("\nktq: interrupted\n");
      ::_exit(kExitInterrupted);
    case InterruptMode::kStopAtSafePoint:
      RequestOperationStop();
      if (n == 1) Say("\nktq: stopping...\n");
      break;
    case InterruptMode::kCritical:
      if (n == 1) {
        Say("\nktq: stopping now leaves the converter without working firmware.\n"
            "ktq: the update goes on; press Ctrl-C again to stop after the current chunk.\n");
      } else if (n == 2) {
        RequestOperationStop();
        Say("\nktq: stopping after the current chunk...\n");
      }
      break;
  }
}

// The removal report comes from another thread and may lag behind the
// failed transfer; the enumeration says it for certain.
bool StillAttached(const std::string& path) {
  if (DeviceRemoved()) return false;
  for (const auto& c : ListSupportedConverters())
    if (c.path == path) return true;
  return false;
}

}  // namespace

void SetInterruptMode(InterruptMode mode) {
  static bool installed = false;
  if (!installed) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    installed = true;
  }
  interruptMode.store(static_cast<int>(mode));
}


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

int OpenConverter(bool mustBeOnly) {
  const Options& o = GlobalOptions();
  const auto converters = ListSupportedConverters();
  const ConverterListing* chosen = nullptr;
  if (!o.device.empty() || !o.serial.empty()) {
    for (const auto& c : converters)
      if ((!o.device.empty() && c.path == o.device) || (!o.serial.empty() && c.serial == o.serial)) chosen = &c;
    if (!chosen) {
      std::fprintf(stderr, "ktq: no converter %s %s is attached; 'ktq list' shows the attached converters.\n",
                   o.device.empty() ? "with serial number" : "at", o.device.empty() ? o.serial.c_str() : o.device.c_str());
      return kExitNoConverter;
    }
  } else if (converters.empty()) {
    return NoConverter();
  } else if (converters.size() > 1 && mustBeOnly) {
    std::fputs("ktq: several converters are attached; choose one with --device PATH (or --serial SERIAL):\n", stderr);
    for (const auto& c : converters) std::fprintf(stderr, "  %s\n", ConverterLine(c).c_str());
    return kExitUsage;
  } else {
    chosen = &converters.front();
  }
  const std::string path = chosen->path;
  openSerial = chosen->serial;
  if (RCOpenDevicePath(path.c_str()) != 0) return NoAccess(path);
  openPath = path;
  return kExitOk;
}

void CurrentConverterListing(std::string& path, std::string& serial) {
  path = openPath;
  serial = openSerial;
}

int IdentifyChip(std::FILE* infoOut, Identity& identity) {
  infoLines.clear();
  messageLines.clear();
  RCSetCallbacks(nullptr, CollectInfo, CollectMessage, nullptr, nullptr);
  const int32_t result = RCIdentifyChip();
  RestoreReportSlots();
  identity.path = openPath;
  identity.serial = openSerial;
  identity.chipType = CurrentChipType();
  identity.firmwareVersion = Between(infoLines, "Current FW version = ");
  identity.firmwareName = Between(infoLines, "Current FW name = ");
  if (result == 0) {
    if (infoOut) std::fputs(infoLines.c_str(), infoOut);
    return kExitOk;
  }
  // "Device not supported!" is the device layer's word for any date code it
  // does not know, a failed read included: tell the cases apart.
  uint8_t code[4] = {};
  if (const int32_t r = DeviceRemoved() ? -1 : RCReadRegister(kDateCodeAddress, sizeof code, code); r != 0) {
    if (!StillAttached(openPath)) {
      std::fprintf(stderr, "ktq: the converter at %s was disconnected during identification.\n", openPath.c_str());
      return kExitNoConverter;
    }
    return DeviceFailure("reading the chip's date code", r);
  }
  std::fputs(messageLines.c_str(), stderr);
  std::fprintf(stderr, "ktq: the chip of this converter is not supported (date code 0x%08X).\n",
               static_cast<unsigned>(code[0] | (code[1] << 8) | (code[2] << 16) | (uint32_t{code[3]} << 24)));
  return kExitDeviceError;
}

std::string DescribeConverter(const Identity& id) {
  return FormatString("Converter %s (serial %s), chip type %u, firmware %s \"%s\".\n", id.path.c_str(),
                      id.serial.empty() ? "-" : id.serial.c_str(), id.chipType,
                      id.firmwareVersion.empty() ? "unknown" : id.firmwareVersion.c_str(), id.firmwareName.c_str());
}

int RequireConfirmationPossible(const std::string& what) {
  if (GlobalOptions().yes || isatty(STDIN_FILENO)) return kExitOk;
  std::fputs(what.c_str(), stderr);
  std::fputs("ktq: not confirmed: standard input is not a terminal to ask on. Add --yes to write without "
             "asking. Nothing was written.\n",
             stderr);
  return kExitUsage;
}

int Confirm(const std::string& what) {
  if (!GlobalOptions().quiet || !GlobalOptions().yes) std::fputs(what.c_str(), stderr);
  if (GlobalOptions().yes) return kExitOk;
  if (int status = RequireConfirmationPossible("")) return status;
  std::fputs("Continue? [y/N] ", stderr);
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer) || (answer != "y" && answer != "Y" && answer != "yes")) {
    std::fputs("ktq: not confirmed. Nothing was written.\n", stderr);
    return kExitUsage;
  }
  return kExitOk;
}

int DeviceFailure(const char* what, int32_t result) {
  if (result < 0 && !openPath.empty() && !StillAttached(openPath)) {
    std::fprintf(stderr, "ktq: %s failed: the converter was disconnected (result 0x%X).\n", what,
                 static_cast<unsigned>(result));
    return kExitDeviceError;
  }
  std::fprintf(stderr, "ktq: %s failed (result 0x%X)\n", what, static_cast<unsigned>(result));
  return kExitDeviceError;
}

int UsageError(const Command& command, const std::string& message) {
  std::fprintf(stderr, "ktq: %s\nUsage: ktq [OPTIONS] %s %s\n", message.c_str(), command.name, command.usage);
  return kExitUsage;
}

std::string CheckInputFile(const std::string& path, uint64_t maxSize, uint64_t* size) {
  struct stat st {};
  if (path.empty()) return "an empty file name";
  if (::stat(path.c_str(), &st) != 0) return FormatString("cannot read %s: %s", path.c_str(), std::strerror(errno));
  // A FIFO or a device would block or never end; a folder is no file.
  if (!S_ISREG(st.st_mode)) return FormatString("%s is not a regular file", path.c_str());
  if (static_cast<uint64_t>(st.st_size) > maxSize)
    return FormatString("%s is too large: %llu bytes, at most %llu expected", path.c_str(),
                        static_cast<unsigned long long>(st.st_size), static_cast<unsigned long long>(maxSize));
  if (::access(path.c_str(), R_OK) != 0)
    return FormatString("cannot read %s: %s", path.c_str(), std::strerror(errno));
  if (size) *size = static_cast<uint64_t>(st.st_size);
  return "";
}

std::string CheckOutputFile(const std::string& path, const std::vector<std::string>& inputs) {
  if (path.empty()) return "an empty output file name";
  struct stat out {};
  if (::stat(path.c_str(), &out) != 0) return "";  // a new file
  if (!S_ISREG(out.st_mode)) return FormatString("%s exists and is not a regular file", path.c_str());
  for (const std::string& input : inputs) {
    struct stat in {};
    if (!input.empty() && ::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
      return FormatString("%s is also an input (%s); it would be overwritten", path.c_str(), input.c_str());
  }
  return "";
}

}  // namespace ktq::cli

// dump: the diagnostic dump of the attached converter, as the window's Dump
// button writes it. The file appears whole or not at all: the dump goes to a
// temporary file in the same folder, which replaces OUT only once the dump
// is complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chipdb/chip_id.h"
#include "chipdb/register_db.h"
#include "cli/cli.h"
#include "device/hid_session.h"
#include "device/hidapi_backend.h"
#include "device/rc_command.h"
#include "diagnostics/dump.h"
#include "report/report_callbacks.h"
#include "sim/model_clock.h"
#include "sim/skipped_pauses.h"

namespace ktq::cli {

namespace {

int RunDump(const std::vector<std::string>& args);

const Command kDump = {
    "dump", "OUT.txt", "write the converter's diagnostic dump",
    "Identifies the chip and writes the diagnostic dump to OUT.txt: host and\n"
    "chip information, the live link status, every register, the data memory,\n"
    "the DPCD of the DisplayPort outputs and the decoded EDIDs. It takes a few\n"
    "seconds: the dump waits one second at a time for status bits and error\n"
    "counters to move. OUT.txt is replaced only by a complete dump: when the\n"
    "chip cannot be identified, or the converter leaves reads unanswered or\n"
    "refuses reads of registers, memory or EDIDs, the dump (which shows which\n"
    "ones) is saved as OUT.txt.incomplete and OUT.txt is left as it was.\n"
    "Messages go to standard\n"
    "error, with the section being read on a terminal. With --simulate the\n"
    "one-second pauses are skipped: the virtual converter needs no time to\n"
    "settle.\n"
    "Exit status 0 when the whole dump was written, 1 when it could not be\n"
    "written or is incomplete, 3 without a converter.\n",
    RunDump};

// The version the dump's header names.
constexpr char kToolVersion[] = KTQ_TOOL_VERSION;

bool terminal = false;
// The temporary file, removed if the run is interrupted.
char pendingPath[4096] = {};

// On a terminal the section being read follows the open message line
// ("Dump register/memory... [memory]") and is wiped when the next message
// arrives; elsewhere only the messages are written.
std::string openLine;

void Message(const char* text) {
  if (terminal) std::fputs(("\r\033[K" + openLine).c_str(), stderr);
  std::fputs(text, stderr);
  openLine += text;
  if (!openLine.empty() && openLine.back() == '\n') openLine.clear();
}

void ShowSection(const char* section) {
  if (terminal) std::fprintf(stderr, "\r\033[K%s[%s]", openLine.c_str(), section);
}

void Removed() { std::fputs("\nDevice removed.\n", stderr); }

void RemovePendingAndExit(int signal) {
  if (pendingPath[0] != 0) unlink(pendingPath);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// A temporary file next to `path`, so that the final rename stays within
// one file system.
bool MakeTemporary(const std::string& path, std::string& temporary) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string pattern = folder + "/.ktq-dump-XXXXXX";
  if (pattern.size() >= sizeof pendingPath) return (errno = ENAMETOOLONG), false;
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return false;
  // mkstemp makes the file readable by its owner only; a dump is an
  // ordinary document.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  temporary = pattern;
  return true;
}

// What makes a written dump incomplete, "" for a whole one: an unidentified
// chip (the chip-specific sections are missing), a read never answered, or
// a refused read of registers, memory or an EDID that is there. Other
// refusals are part of what the converter answered (a port without a sink
// has no timing record).
std::string DumpHoles(int32_t identified, const diag::DumpReads& reads) {
  // "1 EDID read", "2 reads"
  const auto counted = [](int n, const char* kind) {
    return std::to_string(n) + " " + kind + (n == 1 ? "read" : "reads");
  };
  std::vector<std::string> holes;
  if (identified != 0) holes.push_back("the chip could not be identified");
  if (reads.refusedMemoryReads > 0)
    holes.push_back("the converter refused " + counted(reads.refusedMemoryReads, "register or memory "));
  if (reads.refusedEdidReads > 0) holes.push_back("the converter refused " + counted(reads.refusedEdidReads, "EDID "));
  if (reads.unanswered > 0)
    holes.push_back("the converter did not answer " + counted(reads.unanswered, "") +
                    (reads.gaveUp ? " and stopped answering, so the rest was not read" : ""));
  std::string text;
  for (const std::string& hole : holes) text += (text.empty() ? "" : "; ") + hole;
  return text;
}

int RunDump(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError(kDump, "dump takes one OUT.txt");
  const std::string& out = args[0];
  terminal = isatty(fileno(stderr)) != 0;
  RCSetCallbacks(Removed, nullptr, Message, nullptr, nullptr);
  if (int status = OpenConverter()) return status;
  const int32_t identified = RCIdentifyChip();
  if (identified != 0)
    std::fprintf(stderr, "ktq: chip identification failed (result 0x%X); dumping what can be read\n",
                 static_cast<uint32_t>(identified));

  std::string temporary;
  if (!MakeTemporary(out, temporary)) {
    std::fprintf(stderr, "ktq: cannot write next to %s: %s\n", out.c_str(), std::strerror(errno));
    return kExitDeviceError;
  }
  std::strncpy(pendingPath, temporary.c_str(), sizeof pendingPath - 1);
  auto previousInt = std::signal(SIGINT, RemovePendingAndExit);
  auto previousTerm = std::signal(SIGTERM, RemovePendingAndExit);
  diag::SetDumpSectionObserver(ShowSection);
  const bool simulated = InstalledHidBackend() != &HidapiBackend();
  // On virtual time (a scenario's "clock") the pauses already cost nothing,
  // and the host's waits must stay on the clock the converter keeps.
  const bool skipPauses = simulated && !sim::VirtualTimeOn();
  const RcTiming timingBefore = CurrentRcTiming();
  if (skipPauses) SetRcTiming(sim::SkippedPauseTiming());
  const int32_t result = RCDumpAll(temporary.c_str(), kToolVersion);
  if (skipPauses) SetRcTiming(timingBefore);
  diag::SetDumpSectionObserver(nullptr);

  const std::string holes = DumpHoles(identified, diag::LastDumpReads());
  int status = kExitOk;
  if (result == 0 && !holes.empty()) {
    // Incomplete: kept under a name that says so, and an older complete dump
    // stays where it is.
    const std::string incomplete = out + ".incomplete";
    if (std::rename(temporary.c_str(), incomplete.c_str()) != 0) {
      std::fprintf(stderr, "ktq: cannot write %s: %s\n", incomplete.c_str(), std::strerror(errno));
      unlink(temporary.c_str());
    } else {
      std::fprintf(stderr,
                   "ktq: the dump is incomplete: %s; it is saved as %s, which shows which reads failed, and %s is "
                   "unchanged\n",
                   holes.c_str(), incomplete.c_str(), out.c_str());
    }
    status = kExitDeviceError;
  } else if (result != 0) {
    unlink(temporary.c_str());
    std::fprintf(stderr, "ktq: the dump could not be written (result 0x%X); %s is unchanged\n",
                 static_cast<uint32_t>(result), out.c_str());
    status = kExitDeviceError;
  } else if (std::rename(temporary.c_str(), out.c_str()) != 0) {
    std::fprintf(stderr, "ktq: cannot replace %s: %s\n", out.c_str(), std::strerror(errno));
    unlink(temporary.c_str());
    status = kExitDeviceError;
  }
  pendingPath[0] = 0;
  std::signal(SIGINT, previousInt);
  std::signal(SIGTERM, previousTerm);
  return status;
}

}  // namespace

void RegisterDumpCommands(CommandTable& table) { table.Add(kDump); }

}  // namespace ktq::cli

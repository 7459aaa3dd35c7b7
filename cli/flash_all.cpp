// flash --all: every attached converter of one chip type updated at once,
// each by a ktq process of its own (ktq flash --device PATH --yes), since
// the device layer holds one open device per process. The parent shows one
// line per converter and a summary at the end.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "chipdb/chip_id.h"
#include "cli/cli.h"
#include "cli/cmd_firmware.h"
#include "device/hid_session.h"
#include "report/format.h"

namespace ktq::cli {

namespace {

struct Worker {
  Identity identity;
  pid_t pid = -1;
  int fd = -1;  // the worker's standard error
  std::string pending;  // an unfinished line
  std::string lastMessage;
  std::string error;  // the worker's last "ktq:" line
  int percent = -1;
  int status = -1;
  double seconds = 0;
  std::chrono::steady_clock::time_point start;
};

// The worker's command line: the same backend (and scenario) and the chosen
// converter. The virtual converter lives per process, so each worker loads
// the scenario itself and saves the converter it updated (save_at_exit).
std::vector<std::string> WorkerArguments(const std::string& image, const std::string& path) {
  std::vector<std::string> argv = {"/proc/self/exe", "flash", image, "--device", path, "--yes"};
  const Options& o = GlobalOptions();
  if (o.simulate) argv.push_back(o.scenario.empty() ? "--simulate" : "--simulate=" + o.scenario);
  if (o.wait) argv.push_back(FormatString("--wait=%u", o.waitSeconds));
  return argv;
}

bool Start(Worker& w, const std::vector<std::string>& args) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  w.start = std::chrono::steady_clock::now();
  w.pid = ::fork();
  if (w.pid < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (w.pid == 0) {
    ::dup2(fds[1], STDERR_FILENO);
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(kExitSetup);
  }
  ::close(fds[1]);
  w.fd = fds[0];
  return true;
}

void TakeLine(Worker& w, const std::string& line) {
  if (line.empty()) return;
  if (line.back() == '%' && line.find_first_not_of("0123456789") == line.size() - 1) {
    w.percent = std::stoi(line);
  } else if (line.rfind("ktq: ", 0) == 0) {
    if (line.find("note:") == std::string::npos && w.error.empty()) w.error = line.substr(5);
  } else {
    w.lastMessage = line;
  }
}

std::string StatusLine(const Worker& w) {
  std::string state = w.percent >= 0 ? FormatString("%3d%%", w.percent) : "    ";
  return FormatString("%-20s %s  %s", w.identity.path.c_str(), state.c_str(), w.lastMessage.c_str());
}

const char* ResultWord(int status) {
  switch (status) {
    case kExitOk: return "updated";
    case kExitInterrupted: return "stopped";
    default: return "FAILED";
  }
}

}  // namespace

int FlashAll(const std::string& image, const std::string& imageLine) {
  const auto converters = ListSupportedConverters();
  if (converters.empty()) return OpenConverter();  // says there is none
  std::vector<Worker> workers;
  std::string skipped;
  uint32_t chipType = 0;
  for (const auto& c : converters) {
    if (RCOpenDevicePath(c.path.c_str()) != 0) {
      std::fprintf(stderr, "ktq: %s cannot be opened (permissions?); it is left out.\n", c.path.c_str());
      continue;
    }
    Worker w;
    const int status = IdentifyChip(nullptr, w.identity);
    RCCloseDevice();
    w.identity.path = c.path;
    w.identity.serial = c.serial;
    if (status != kExitOk) {
      skipped += FormatString("  %s: not identified, left out\n", c.path.c_str());
      continue;
    }
    if (chipType == 0) chipType = w.identity.chipType;
    if (w.identity.chipType != chipType) {
      skipped += FormatString("  %s: chip type %u, left out\n", c.path.c_str(), w.identity.chipType);
      continue;
    }
    workers.push_back(std::move(w));
  }
  if (workers.empty()) {
    std::fputs("ktq: no converter could be identified; nothing was written.\n", stderr);
    return kExitNoConverter;
  }
  std::string what = FormatString("About to update %zu converter%s of chip type %u:\n", workers.size(),
                                  workers.size() == 1 ? "" : "s", chipType);
  for (const Worker& w : workers) what += "  " + DescribeConverter(w.identity);
  what += skipped + imageLine;
  if (int status = Confirm(what)) return status;

  // The workers share the terminal's process group: Ctrl-C reaches each of
  // them, and each handles it as a single flash does.
  SetInterruptMode(InterruptMode::kCritical);
  for (Worker& w : workers) {
    if (!Start(w, WorkerArguments(image, w.identity.path))) {
      w.status = kExitSetup;
      w.error = "could not start a worker process";
    }
  }
  const bool terminal = isatty(STDERR_FILENO) != 0 && !GlobalOptions().quiet;
  size_t running = 0;
  for (const Worker& w : workers) running += w.fd >= 0 ? 1 : 0;
  bool drawn = false;
  while (running > 0) {
    std::vector<pollfd> fds;
    std::vector<Worker*> owners;
    for (Worker& w : workers) {
      if (w.fd < 0) continue;
      fds.push_back({w.fd, POLLIN, 0});
      owners.push_back(&w);
    }
    if (::poll(fds.data(), fds.size(), 1000) < 0) continue;  // EINTR from Ctrl-C
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Worker& w = *owners[i];
      char buffer[4096];
      const ssize_t n = ::read(w.fd, buffer, sizeof buffer);
      if (n > 0) {
        w.pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = w.pending.find_first_of("\n\r")) != std::string::npos) {
          const std::string line = w.pending.substr(0, end);
          w.pending.erase(0, end + 1);
          const int before = w.percent;
          TakeLine(w, line);
          if (!terminal && !GlobalOptions().quiet && (w.percent == before || w.percent % 10 == 0) && !line.empty())
            std::fprintf(stderr, "%s: %s\n", w.identity.path.c_str(), line.c_str());
        }
        continue;
      }
      ::close(w.fd);
      w.fd = -1;
      --running;
      int raw = 0;
      ::waitpid(w.pid, &raw, 0);
      w.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : kExitInterrupted;
      w.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - w.start).count();
    }
    if (terminal) {
      // One line per converter, redrawn in place.
      if (drawn) std::fprintf(stderr, "\x1b[%zuA", workers.size());
      for (const Worker& w : workers) std::fprintf(stderr, "\r\x1b[K%s\n", StatusLine(w).c_str());
      drawn = true;
    }
  }
  SetInterruptMode(InterruptMode::kExit);

  bool allOk = true;
  nlohmann::json list = nlohmann::json::array();
  std::string table = FormatString("%-20s %-12s %-8s %8s  %s\n", "CONVERTER", "SERIAL", "RESULT", "TIME", "MESSAGE");
  int worst = kExitOk;
  for (const Worker& w : workers) {
    allOk = allOk && w.status == kExitOk;
    if (w.status != kExitOk && worst != kExitInterrupted) worst = w.status == kExitInterrupted ? kExitInterrupted : kExitDeviceError;
    const std::string message = w.status == kExitOk ? "" : (w.error.empty() ? w.lastMessage : w.error);
    table += FormatString("%-20s %-12s %-8s %7.1fs  %s\n", w.identity.path.c_str(),
                          w.identity.serial.empty() ? "-" : w.identity.serial.c_str(), ResultWord(w.status), w.seconds,
                          message.c_str());
    list.push_back({{"path", w.identity.path},
                    {"serial", w.identity.serial},
                    {"result", w.status == kExitOk ? "ok" : w.status == kExitInterrupted ? "stopped" : "failed"},
                    {"exit_status", w.status},
                    {"seconds", w.seconds},
                    {"message", message}});
  }
  if (GlobalOptions().json) {
    const nlohmann::json summary = {{"image", image}, {"all_ok", allOk}, {"converters", list}};
    std::fprintf(Out(), "%s\n", summary.dump(2).c_str());
  } else {
    std::fputs(table.c_str(), Out());
  }
  if (!allOk)
    std::fputs("ktq: not every converter was updated; flash those again before unplugging them.\n", stderr);
  return worst;
}

}  // namespace ktq::cli

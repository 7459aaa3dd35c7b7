#include "cli/progress_display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "report/format.h"

namespace ktq::cli {

namespace {

constexpr int kMaxBarWidth = 40;
// "[] 100%  00:00 elapsed, 00:00 left" around the bar.
constexpr int kBarFrame = 36;

std::string MinutesSeconds(int64_t seconds) {
  return FormatString("%02lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

int64_t Seconds(ProgressDisplay::Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::seconds>(d).count();
}

}  // namespace

ProgressDisplay::ProgressDisplay(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {
  if (!terminal_) return;
  winsize size {};
  if (::ioctl(::fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) width_ = size.ws_col;
  clock_ = std::thread([this] { Tick(); });
}

ProgressDisplay::~ProgressDisplay() { Finish(); }

std::string ProgressDisplay::BarLine(uint32_t percent, Clock::duration elapsed, int width) {
  const uint32_t p = std::min<uint32_t>(percent, 100);
  const int barWidth = std::clamp(width - 1 - kBarFrame, 0, kMaxBarWidth);
  const int filled = static_cast<int>(p * static_cast<uint32_t>(barWidth) / 100);
  std::string left = "--:--";
  if (p > 0) left = MinutesSeconds(Seconds(elapsed * (100 - p) / p));
  const std::string line = FormatString("[%s%s] %3u%%  %s elapsed, %s left", std::string(filled, '#').c_str(),
                                        std::string(barWidth - filled, ' ').c_str(), p,
                                        MinutesSeconds(Seconds(elapsed)).c_str(), left.c_str());
  return width > 1 && static_cast<int>(line.size()) > width - 1 ? line.substr(0, width - 1) : line;
}

std::string ProgressDisplay::EraseLine() const {
  return FormatString("Erasing flash... %s", MinutesSeconds(Seconds(Clock::now() - eraseStart_)).c_str());
}

void ProgressDisplay::Redraw() {
  std::string line;
  if (erasing_) line = EraseLine();
  else if (lastPercent_ >= 0) line = BarLine(static_cast<uint32_t>(lastPercent_), Clock::now() - start_, width_);
  else return;
  // Redrawn in place; the trailing blanks wipe a longer previous line.
  const int pad = std::max(0, std::min(width_ - 1, 80) - static_cast<int>(line.size()));
  std::fprintf(out_, "\r%s%s", line.c_str(), std::string(pad, ' ').c_str());
  std::fflush(out_);
  barOpen_ = true;
}

void ProgressDisplay::Tick() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!finished_) {
    wake_.wait_for(lock, std::chrono::seconds(1));
    if (!finished_) Redraw();
  }
}

void ProgressDisplay::OnProgress(uint32_t percent) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!started_) {
    started_ = true;
    start_ = Clock::now();
  }
  if (static_cast<int64_t>(percent) == lastPercent_) return;
  lastPercent_ = percent;
  if (terminal_) {
    Redraw();
  } else {
    std::fprintf(out_, "%u%%\n", percent);
    std::fflush(out_);
  }
}

void ProgressDisplay::OnMessage(const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool eraseStarts = std::strcmp(text, "Erasing flash...") == 0;
  if (erasing_) {
    // The erase's "OK!" or "FAILED!!" completes the clock's line, after a
    // blank rather than after the blanks that wipe a longer line.
    std::fprintf(out_, "\r%s ", EraseLine().c_str());
    erasing_ = false;
    barOpen_ = false;
  } else {
    EndBarLine();
  }
  if (eraseStarts && terminal_) {
    erasing_ = true;
    eraseStart_ = Clock::now();
    Redraw();
    return;
  }
  std::fputs(text, out_);
  std::fflush(out_);
}

void ProgressDisplay::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    erasing_ = false;
    EndBarLine();
  }
  wake_.notify_all();
  if (clock_.joinable()) clock_.join();
}

void ProgressDisplay::EndBarLine() {
  if (!barOpen_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  barOpen_ = false;
}

}  // namespace ktq::cli

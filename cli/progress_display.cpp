#include "cli/progress_display.h"

#include <algorithm>

#include "report/format.h"

namespace ktq::cli {

namespace {

constexpr int kBarWidth = 40;

std::string MinutesSeconds(int64_t seconds) {
  return FormatString("%02lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

}  // namespace

std::string ProgressDisplay::BarLine(uint32_t percent, Clock::duration elapsed) {
  const uint32_t p = std::min<uint32_t>(percent, 100);
  const int filled = static_cast<int>(p * kBarWidth / 100);
  const int64_t elapsedSeconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  std::string left = "--:--";
  if (p > 0) {
    const auto remaining = elapsed * (100 - p) / p;
    left = MinutesSeconds(std::chrono::duration_cast<std::chrono::seconds>(remaining).count());
  }
  return FormatString("[%s%s] %3u%%  %s elapsed, %s left", std::string(filled, '#').c_str(),
                      std::string(kBarWidth - filled, ' ').c_str(), p, MinutesSeconds(elapsedSeconds).c_str(),
                      left.c_str());
}

void ProgressDisplay::OnProgress(uint32_t percent) {
  if (!started_) {
    started_ = true;
    start_ = Clock::now();
  }
  if (static_cast<int64_t>(percent) == lastPercent_) return;
  lastPercent_ = percent;
  if (terminal_) {
    // Redrawn in place; the trailing blanks wipe a longer previous line.
    std::fprintf(out_, "\r%s  ", BarLine(percent, Clock::now() - start_).c_str());
    barOpen_ = true;
  } else {
    std::fprintf(out_, "%u%%\n", percent);
  }
  std::fflush(out_);
}

void ProgressDisplay::OnMessage(const char* text) {
  EndBarLine();
  std::fputs(text, out_);
  std::fflush(out_);
}

void ProgressDisplay::EndBarLine() {
  if (!barOpen_) return;
  std::fputc('\n', out_);
  barOpen_ = false;
}

}  // namespace ktq::cli

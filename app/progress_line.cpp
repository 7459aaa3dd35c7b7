#include "app/progress_line.h"

namespace ktq::app {

std::string ProgressLine(uint32_t percent) {
  return "\tDownloading to storage...[" + std::to_string(percent) + "%]\n";
}

bool ApplyProgressReport(std::string& text, uint32_t& shown, uint32_t percent) {
  const std::string oldLine = ProgressLine(shown);
  const std::string newLine = ProgressLine(percent);
  size_t at = text.find(oldLine);
  if (at == std::string::npos) {
    text += newLine;
    return true;
  }
  if (shown == percent) return false;
  std::string result;
  result.reserve(text.size() + 8);
  size_t from = 0;
  for (; at != std::string::npos; at = text.find(oldLine, from)) {
    result.append(text, from, at - from);
    result += newLine;
    from = at + oldLine.size();
  }
  result.append(text, from, std::string::npos);
  text = std::move(result);
  shown = percent;
  return true;
}

}  // namespace ktq::app

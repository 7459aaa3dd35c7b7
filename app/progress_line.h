// The progress line of the message field: one line that counts up while the
// flash is written, rewritten in place rather than appended per report.
#pragma once

#include <cstdint>
#include <string>

namespace ktq::app {

// "\tDownloading to storage...[<percent>%]\n"
std::string ProgressLine(uint32_t percent);

// Applies a progress report of `percent` to the message text, where `shown`
// is the percent of the line the text is taken to show. When the text holds
// that line: nothing for the same percent, otherwise every copy becomes the
// new line and `shown` becomes `percent`. When it does not: the new line is
// appended and `shown` is kept. True when the text changed.
bool ApplyProgressReport(std::string& text, uint32_t& shown, uint32_t percent);

}  // namespace ktq::app

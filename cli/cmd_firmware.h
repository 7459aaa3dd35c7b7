// Shared between flash and flash --all.
#pragma once

#include <string>

namespace ktq::cli {

// flash --all: one worker process (ktq flash --device PATH --yes) per
// converter of the first converter's chip type, one progress line each, a
// summary table (or --json) at the end. `imageLine` describes the image.
int FlashAll(const std::string& image, const std::string& imageLine);

}  // namespace ktq::cli

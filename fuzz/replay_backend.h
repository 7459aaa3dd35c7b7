// A HID backend for fuzz targets: one converter that takes every output
// report and serves the fuzz input as its input reports, 62 bytes a fetch (a
// short tail is a short reply; running out fails the fetch). The RC timing
// runs on a fake clock, so budgets pass without waiting.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktq::fuzz {

// Installs the backend and the fake clock and opens the converter once;
// false when the device layer could not open it.
bool OpenReplayConverter();

// The bytes that the following fetches return.
void ServeReplies(const uint8_t* data, size_t size);

}  // namespace ktq::fuzz

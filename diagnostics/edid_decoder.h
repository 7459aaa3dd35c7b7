// EDID decoder: turns the raw bytes of a display's EDID (base block and up to
// three extension blocks) into the report text of the diagnostic dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace ktq {

inline constexpr size_t kEdidBlockSize = 128;
// Extension blocks beyond the third are never read or decoded.
inline constexpr size_t kEdidMaxExtensions = 3;
inline constexpr size_t kEdidBufferSize = kEdidBlockSize * (1 + kEdidMaxExtensions);

// Number of extension blocks read, listed and decoded: the count that the
// base block announces, capped at three and at what `size` bytes can hold.
size_t EdidExtensionsHandled(const uint8_t* edid, size_t size);

// The EDID text that a read of these bytes yields: the hex listing of the
// base block and the extension blocks handled, then either the base-block
// checksum error or the decoded summary. Empty when `edid` holds less than a
// base block. The reader passes its zero-filled 512-byte buffer; bytes past
// `size` are never touched.
std::string EdidTextFromBytes(std::span<const uint8_t> edid);

}  // namespace ktq

// Appends the decoded summary of the base block and of the extension blocks
// to `text`. Returns 0, or -1 with nothing appended when `size` is below 128.
int32_t DecodeEdid(const uint8_t* edid, uint32_t size, std::string& text);

// Fixed texts of the EDID decoder: video format names, interface, audio,
// speaker and HDMI Forum capability names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ktq::edid {

// Video format names by VIC 0 to 219. Codes 128 to 192 are not video formats
// and have empty names; no short video descriptor ever yields one.
inline constexpr int kVicNameCount = 220;
extern const std::array<const char*, kVicNameCount> kVicNames;

// Name of the VIC, or "" for a value outside the table.
const char* VicName(uint32_t vic);

// Digital interface of base byte 20 bits 0 to 3.
const char* InterfaceName(uint32_t code);

// Audio format code of a short audio descriptor (byte 1 bits 3 to 6).
const char* AudioFormatName(uint32_t code);

// Sampling rates by bit 0 to 6 of short audio descriptor byte 2.
extern const std::array<const char*, 7> kSamplingRateNames;

// Speaker allocation by bit 0 to 6 of the speaker data block's first byte.
extern const std::array<const char*, 7> kSpeakerNames;

// HDMI Forum data block flag names by bit; nullptr where a bit has no name.
// Indexed by the byte number counted from the data block header.
using FlagNames = std::array<const char*, 8>;
extern const FlagNames kHfByte6Flags;
extern const FlagNames kHfByte7Flags;
extern const FlagNames kHfByte8Flags;
extern const FlagNames kHfByte11Flags;

// Max FRL rate (byte 7 bits 4 to 7), DSC max slices and DSC max FRL rate
// (byte 12 low and high nibble). Codes without a defined meaning give "".
const char* MaxFrlRateText(uint32_t code);
const char* DscMaxSlicesText(uint32_t code);
const char* DscMaxFrlRateText(uint32_t code);

}  // namespace ktq::edid

// The converter chip's firmware flash as the virtual converter models it:
// erase (the reply stays pending while it runs), programming in chunks at
// their offsets, activation, and the shared SPI flash bus that the main chip
// takes to write a companion chip's image into the flash they share.
//
// Converter section "flash" (all keys optional):
//   "size"               bytes of flash; default from the chip's date code
//                        (0x7F000 for type 6, else 0x50000)
//   "erase_time_ms"      how long an erase keeps its reply pending (0)
//   "unplug_after_chunk" the converter is pulled out after this many chunk
//                        writes have succeeded
//   "restart"            {"off_ms", "fw_version"}: after an activation the
//                        chip restarts into the new firmware: it drops off
//                        the bus at the next request, comes back after
//                        off_ms reporting fw_version
// Refusals (erase, a chunk at an offset, activation) are the generic
// "status" faults on UPDC_ERASE_FLASH, UPDC_WRITE_FLASH, UPDC_ACTIVATE_FIRMWARE.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ktq::sim {

class VirtualConverter;
class SimRegistry;

// Statuses of the flash commands beyond the core's (sim_registry.h).
constexpr uint8_t kFlashStatusNotErased = 0x90;   // programming over bytes not erased since
constexpr uint8_t kFlashStatusOutOfRange = 0x91;  // chunk beyond the end of the flash
constexpr uint8_t kFlashStatusBusy = 0x92;        // a flash command while an erase still runs

struct FlashState {
  std::optional<uint32_t> size;
  std::chrono::milliseconds eraseTime{0};
  std::optional<uint32_t> unplugAfterChunk;
  struct Restart {
    std::chrono::milliseconds offFor{0};
    uint32_t fwVersion = 0;
  };
  std::optional<Restart> restart;

  // Made on first use, when the chip's identity is in memory.
  std::vector<uint8_t> bytes;
  std::vector<bool> programmed;  // programmed since the last erase
  // On a converter with an RDX4410: the flash it boots from, which the main
  // chip reaches over the shared SPI bus. While the main chip holds that bus
  // its erase and chunk writes go here instead of to its own flash; a host
  // that writes a companion image without taking the bus overwrites the
  // main chip's firmware and leaves the RDX4410's as it was.
  std::vector<uint8_t> sharedBytes;
  std::vector<bool> sharedProgrammed;
  uint32_t erases = 0;
  uint32_t chunksWritten = 0;
  uint32_t activations = 0;
  // The chip erases on its own after taking the command; until then it
  // refuses further flash commands (a host that does not wait is caught).
  std::chrono::steady_clock::time_point eraseEndsAt{};
  bool mainHoldsSpiBus = false;  // the main chip took the shared SPI flash bus
};

// The converter's flash, made at the size its chip has.
FlashState& Flash(VirtualConverter& converter);

// Writes the main chip's own flash (or the flash shared with the RDX4410) to
// `path`; false when it cannot.
bool SaveFlash(VirtualConverter& converter, const std::string& path, bool shared = false);

void InstallFlashModel(SimRegistry& registry);

}  // namespace ktq::sim

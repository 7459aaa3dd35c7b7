// The converter chip's firmware flash as the virtual converter models it:
// erase, programming in chunks at their offsets, activation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace sim {

// Scenario section "flash".
struct FlashConfig {
  uint32_t eraseTimeMs = 0;                   // the erase reply stays pending this long
  uint8_t eraseStatus = 0;                    // non-zero: the erase is refused with it
  bool eraseNeverCompletes = false;           // the erase reply stays pending for good
  std::optional<uint32_t> refuseWriteAt;      // offset of a chunk that is refused
  uint8_t refuseWriteStatus = 0x05;
  std::optional<uint32_t> unplugAfterChunk;   // the device goes away after this many chunk writes
  uint8_t activateStatus = 0;                 // non-zero: activation refused with it
  std::string saveTo;                         // file the flash is written to at exit
};

// Parses the "flash" section; throws std::runtime_error with a clear text on
// a malformed one.
FlashConfig ParseFlashConfig(const nlohmann::json& section);

// Device statuses of the flash commands.
constexpr uint8_t kFlashStatusNotErased = 0x05;
constexpr uint8_t kFlashStatusOutOfRange = 0x06;
constexpr uint8_t kFlashStatusBadRequest = 0x07;

class FlashModel {
 public:
  FlashModel(uint32_t size, FlashConfig config);

  uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  const FlashConfig& config() const { return config_; }
  uint32_t chunksWritten() const { return chunksWritten_; }
  uint32_t activations() const { return activations_; }
  bool erased() const { return erased_; }

  // Erase: the status, once the erase has run (the caller keeps the reply
  // pending for eraseTimeMs before it asks).
  uint8_t Erase(const uint8_t* payload, uint32_t count);
  // Programs `count` bytes at `offset`. Refused on flash that was not erased
  // since it was last programmed there, and beyond the end.
  uint8_t Write(uint32_t offset, const uint8_t* data, uint32_t count);
  uint8_t Activate();

  // Whether the configured unplug point has been reached.
  bool ShouldUnplug() const;

  // Writes the flash contents to config().saveTo; false when it cannot.
  bool Save() const;

 private:
  FlashConfig config_;
  std::vector<uint8_t> bytes_;
  std::vector<bool> programmed_;  // programmed since the last erase
  bool erased_ = false;
  uint32_t chunksWritten_ = 0;
  uint32_t activations_ = 0;
};

}  // namespace sim

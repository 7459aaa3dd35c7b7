// The chip's embedded Tefra log as the virtual converter models it: a list of
// 32-byte records handed out one per read, then a final status.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace sim {

using TefraRecordBytes = std::array<uint8_t, 32>;

// Scenario section "tefra": {"records": ["<64 hex digits>", ...], "finalStatus": 7}.
struct TefraLogConfig {
  std::vector<TefraRecordBytes> records;
  uint8_t finalStatus = 0x07;  // answered to every read after the last record
};

// Throws std::runtime_error with a clear text on a malformed section.
TefraLogConfig ParseTefraLogConfig(const nlohmann::json& section);

class TefraLogModel {
 public:
  explicit TefraLogModel(TefraLogConfig config) : config_(std::move(config)) {}

  // The next read: status 0 and the next record, or the final status once
  // every record has been handed out.
  uint8_t Read(uint32_t count, uint8_t* out);
  void Control() { ++controls_; }

  uint32_t controls() const { return controls_; }
  size_t recordsRead() const { return next_; }

 private:
  TefraLogConfig config_;
  size_t next_ = 0;
  uint32_t controls_ = 0;
};

}  // namespace sim

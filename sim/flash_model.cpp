#include "sim/flash_model.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace sim {

namespace {

constexpr uint8_t kErasedByte = 0xFF;
// Bytes a chip leaves in flash before the first erase: whatever old firmware
// was there. Any non-erased pattern serves.
constexpr uint8_t kOldFirmwareByte = 0x5A;

template <typename T>
T Field(const nlohmann::json& section, const char* key, T fallback) {
  if (!section.contains(key)) return fallback;
  return section.at(key).get<T>();
}

}  // namespace

FlashConfig ParseFlashConfig(const nlohmann::json& section) {
  if (!section.is_object()) throw std::runtime_error("\"flash\" must be an object");
  static const char* const kKeys[] = {"eraseTimeMs", "eraseStatus", "eraseNeverCompletes",
                                      "refuseWriteAt", "refuseWriteStatus", "unplugAfterChunk",
                                      "activateStatus", "saveTo"};
  for (const auto& [key, value] : section.items()) {
    bool known = false;
    for (const char* k : kKeys) known = known || key == k;
    if (!known) throw std::runtime_error("\"flash\": unknown key \"" + key + "\"");
  }
  FlashConfig config;
  try {
    config.eraseTimeMs = Field<uint32_t>(section, "eraseTimeMs", 0);
    config.eraseStatus = Field<uint8_t>(section, "eraseStatus", 0);
    config.eraseNeverCompletes = Field<bool>(section, "eraseNeverCompletes", false);
    if (section.contains("refuseWriteAt")) config.refuseWriteAt = section.at("refuseWriteAt").get<uint32_t>();
    config.refuseWriteStatus = Field<uint8_t>(section, "refuseWriteStatus", kFlashStatusNotErased);
    if (section.contains("unplugAfterChunk")) {
      config.unplugAfterChunk = section.at("unplugAfterChunk").get<uint32_t>();
    }
    config.activateStatus = Field<uint8_t>(section, "activateStatus", 0);
    config.saveTo = Field<std::string>(section, "saveTo", "");
  } catch (const nlohmann::json::exception& e) {
    throw std::runtime_error(std::string("\"flash\": ") + e.what());
  }
  return config;
}

FlashModel::FlashModel(uint32_t size, FlashConfig config)
    : config_(std::move(config)), bytes_(size, kOldFirmwareByte), programmed_(size, true) {}

uint8_t FlashModel::Erase(const uint8_t* payload, uint32_t count) {
  // The erase command carries exactly the two bytes FF FF.
  if (count != 2 || payload[0] != 0xFF || payload[1] != 0xFF) return kFlashStatusBadRequest;
  if (config_.eraseStatus != 0) return config_.eraseStatus;
  std::fill(bytes_.begin(), bytes_.end(), kErasedByte);
  std::fill(programmed_.begin(), programmed_.end(), false);
  erased_ = true;
  return 0;
}

uint8_t FlashModel::Write(uint32_t offset, const uint8_t* data, uint32_t count) {
  if (count == 0 || count > 32) return kFlashStatusBadRequest;
  if (offset > bytes_.size() || count > bytes_.size() - offset) return kFlashStatusOutOfRange;
  if (config_.refuseWriteAt && *config_.refuseWriteAt == offset) return config_.refuseWriteStatus;
  for (uint32_t i = 0; i < count; ++i) {
    if (programmed_[offset + i]) return kFlashStatusNotErased;
  }
  for (uint32_t i = 0; i < count; ++i) {
    bytes_[offset + i] = data[i];
    programmed_[offset + i] = true;
  }
  ++chunksWritten_;
  return 0;
}

uint8_t FlashModel::Activate() {
  if (config_.activateStatus != 0) return config_.activateStatus;
  ++activations_;
  return 0;
}

bool FlashModel::ShouldUnplug() const {
  return config_.unplugAfterChunk && chunksWritten_ >= *config_.unplugAfterChunk;
}

bool FlashModel::Save() const {
  if (config_.saveTo.empty()) return true;
  std::ofstream out(config_.saveTo, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
  return static_cast<bool>(out);
}

}  // namespace sim

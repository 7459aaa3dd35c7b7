#include "sim/tefra_log_model.h"

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace sim {

namespace {

constexpr uint8_t kStatusBadCount = 0x06;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

TefraRecordBytes ParseRecord(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c == ' ') continue;
    if (HexDigit(c) < 0) throw std::runtime_error("\"tefra\": record \"" + text + "\" is not hexadecimal");
    digits += c;
  }
  TefraRecordBytes record{};
  if (digits.size() != 2 * record.size()) {
    throw std::runtime_error("\"tefra\": record \"" + text + "\" is not 32 bytes");
  }
  for (size_t i = 0; i < record.size(); ++i) {
    record[i] = static_cast<uint8_t>(HexDigit(digits[2 * i]) * 16 + HexDigit(digits[2 * i + 1]));
  }
  return record;
}

}  // namespace

TefraLogConfig ParseTefraLogConfig(const nlohmann::json& section) {
  if (!section.is_object()) throw std::runtime_error("\"tefra\" must be an object");
  TefraLogConfig config;
  for (const auto& [key, value] : section.items()) {
    if (key == "records") {
      if (!value.is_array()) throw std::runtime_error("\"tefra\": \"records\" must be a list");
      for (const auto& record : value) {
        if (!record.is_string()) throw std::runtime_error("\"tefra\": records are hexadecimal texts");
        config.records.push_back(ParseRecord(record.get<std::string>()));
      }
    } else if (key == "finalStatus") {
      if (!value.is_number_unsigned() || value.get<uint32_t>() == 0 || value.get<uint32_t>() > 255) {
        throw std::runtime_error("\"tefra\": \"finalStatus\" must be 1 to 255");
      }
      config.finalStatus = value.get<uint8_t>();
    } else {
      throw std::runtime_error("\"tefra\": unknown key \"" + key + "\"");
    }
  }
  return config;
}

uint8_t TefraLogModel::Read(uint32_t count, uint8_t* out) {
  // The log is read in whole records only.
  if (count != 32) return kStatusBadCount;
  if (next_ >= config_.records.size()) return config_.finalStatus;
  std::memcpy(out, config_.records[next_].data(), 32);
  ++next_;
  return 0;
}

}  // namespace sim

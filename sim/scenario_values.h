// Value parsers shared by the scenario sections of all models, so that every
// section accepts numbers and byte strings the same way.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace ktq::sim {

// A JSON integer, or a string holding a decimal number or 0x-prefixed hex
// (JSON has no hex literals, addresses read better in hex). Fails when the
// value exceeds `max`.
bool ParseUnsigned(const nlohmann::json& value, uint64_t max, uint64_t& out, std::string& error);

template <typename T>
bool ParseUnsignedAs(const nlohmann::json& value, T& out, std::string& error) {
  uint64_t v = 0;
  if (!ParseUnsigned(value, static_cast<T>(~T{0}), v, error)) return false;
  out = static_cast<T>(v);
  return true;
}

// Bytes as a string of two-digit hex values separated by spaces
// ("05 11 20 20"), or as an array of byte values (numbers or strings as
// ParseUnsigned takes them).
bool ParseBytes(const nlohmann::json& value, std::vector<uint8_t>& out, std::string& error);

// Checks that `object` is a JSON object whose keys are all in `allowed`.
bool CheckKeys(const nlohmann::json& object, const std::vector<std::string>& allowed, const std::string& where,
               std::string& error);

}  // namespace ktq::sim

#include "sim/scenario_values.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace ktq::sim {

bool ParseUnsigned(const nlohmann::json& value, uint64_t max, uint64_t& out, std::string& error) {
  if (value.is_number_unsigned()) {
    out = value.get<uint64_t>();
  } else if (value.is_number_integer()) {
    error = "negative number " + value.dump();
    return false;
  } else if (value.is_string()) {
    const std::string text = value.get<std::string>();
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (digits.empty() || digits.size() > 20 || digits.find_first_not_of(allowed) != std::string::npos) {
      error = "not a number: \"" + text + "\"";
      return false;
    }
    errno = 0;
    out = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno == ERANGE) {
      error = "number out of range: \"" + text + "\"";
      return false;
    }
  } else {
    error = "expected a number, got " + value.dump();
    return false;
  }
  if (out > max) {
    error = "number " + value.dump() + " out of range (at most " + std::to_string(max) + ")";
    return false;
  }
  return true;
}

bool ParseBytes(const nlohmann::json& value, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  if (value.is_array()) {
    for (const auto& item : value) {
      uint8_t b = 0;
      if (!ParseUnsignedAs(item, b, error)) return false;
      out.push_back(b);
    }
    return true;
  }
  if (!value.is_string()) {
    error = "expected a hex byte string or an array of bytes, got " + value.dump();
    return false;
  }
  const std::string text = value.get<std::string>();
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    auto hexDigit = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    if (i + 1 >= text.size() || !hexDigit(text[i]) || !hexDigit(text[i + 1]) ||
        (i + 2 < text.size() && text[i + 2] != ' ')) {
      error = "bad hex byte string \"" + text + "\" (expected e.g. \"05 11 20 20\")";
      return false;
    }
    out.push_back(static_cast<uint8_t>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16)));
    i += 2;
  }
  return true;
}

bool CheckKeys(const nlohmann::json& object, const std::vector<std::string>& allowed, const std::string& where,
               std::string& error) {
  if (!object.is_object()) {
    error = where + ": expected an object";
    return false;
  }
  for (const auto& item : object.items()) {
    if (std::find(allowed.begin(), allowed.end(), item.key()) == allowed.end()) {
      error = where + ": unknown key \"" + item.key() + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace ktq::sim

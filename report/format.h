// printf-style formatting into a new std::string.
#pragma once

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

namespace ktq {

// Formats like snprintf and returns the whole text, however long. Two passes:
// the first measures, the second writes into a buffer of exactly that size.
// Throws std::runtime_error("Error during formatting.") when the C library
// reports an encoding error. All formats in the program are fixed literals.
template <typename... Args>
std::string FormatString(const std::string& format, Args... args) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  const int n = std::snprintf(nullptr, 0, format.c_str(), args...);
  if (n < 0) throw std::runtime_error("Error during formatting.");
  auto buffer = std::make_unique<char[]>(static_cast<size_t>(n) + 1);
  std::snprintf(buffer.get(), static_cast<size_t>(n) + 1, format.c_str(), args...);
#pragma GCC diagnostic pop
  return std::string(buffer.get(), static_cast<size_t>(n));
}

}  // namespace ktq

using ktq::FormatString;

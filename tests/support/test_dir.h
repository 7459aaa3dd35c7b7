// A folder of files that belongs to one test case in one process.
//
// CTest runs the cases of one executable side by side in separate processes,
// so two cases must never share a file name: a case that removes its file in
// tear-down would pull it from under another one still writing it. Every test
// that needs files takes them from here.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace ktq::testing {

// <TempDir>/ktq-<suite>.<case>-<pid>/, created empty on first use in a case and
// removed when the process ends. The name keeps only characters that are safe
// in a shell command line, since tests pass these paths to programs they run.
inline std::filesystem::path TestDir() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "global";
  for (char& c : name) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                      c == '_' || c == '-';
    if (!safe) c = '_';
  }
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) / ("ktq-" + name + "-" + std::to_string(::getpid()));

  struct Registry {
    std::filesystem::path last;
    ~Registry() {
      std::error_code ignored;
      if (!last.empty()) std::filesystem::remove_all(last, ignored);
    }
  };
  static Registry registry;
  if (registry.last != dir) {
    std::error_code ignored;
    if (!registry.last.empty()) std::filesystem::remove_all(registry.last, ignored);
    std::filesystem::remove_all(dir, ignored);
    std::filesystem::create_directories(dir);
    registry.last = dir;
  }
  return dir;
}

// A path inside TestDir(), as a string for the APIs that take one.
inline std::string TestPath(const std::string& file) { return (TestDir() / file).string(); }

}  // namespace ktq::testing

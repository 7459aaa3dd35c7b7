// The parsed-map cache: the same map while its files stay as they were, a
// fresh parse as soon as the top file or one it includes changes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sim/map_cache.h"
#include "tests/support/test_dir.h"

namespace {

using ktq::testing::TestPath;

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::trunc) << text; }

const char kTop[] = "variant 5\nchip 5\nname-base 0x100\ninclude \"part.map\"\n";
std::string Part(const char* reset) { return std::string("reg CORE_A 0x20200000 \"a\"\n  field F 0 8 ") + reset + " \"f\"\n"; }

TEST(MapCache, ParsesAgainOnlyWhenAFileItReadChanges) {
  std::filesystem::create_directories(TestPath("maps"));
  const std::string top = TestPath("maps/top.map"), part = TestPath("maps/part.map");
  Write(top, kTop);
  Write(part, Part("1"));
  std::string error;
  const auto first = ktq::sim::LoadRegisterMap(top, error);
  ASSERT_NE(first, nullptr) << error;
  ASSERT_EQ(first->registers.size(), 1u);
  EXPECT_EQ(first->registers[0].reset, 1u);
  EXPECT_EQ(ktq::sim::LoadRegisterMap(top, error), first);

  // The included file grows by a byte: the new reset value shows.
  Write(part, Part("17"));
  const auto second = ktq::sim::LoadRegisterMap(top, error);
  ASSERT_NE(second, nullptr) << error;
  EXPECT_NE(second, first);
  EXPECT_EQ(second->registers[0].reset, 17u);

  // Same size, later modification time.
  Write(part, Part("18"));
  std::filesystem::last_write_time(part, std::filesystem::last_write_time(part) + std::chrono::seconds(1));
  const auto third = ktq::sim::LoadRegisterMap(top, error);
  ASSERT_NE(third, nullptr) << error;
  EXPECT_EQ(third->registers[0].reset, 18u);

  // A file that stops parsing is an error, not the last good map.
  Write(part, "reg BROKEN\n");
  EXPECT_EQ(ktq::sim::LoadRegisterMap(top, error), nullptr);
  EXPECT_NE(error.find("part.map:1:"), std::string::npos) << error;
}

}  // namespace

#include "report/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

TEST(FormatString, FormatsLikePrintf) {
  // The register line of the dump, with the value given to both conversions.
  EXPECT_EQ(FormatString("%06Xh: 0x%08X (%d)\r\n", 0x1234, 0xFFFFFFFFu, static_cast<int32_t>(0xFFFFFFFF)),
            "001234h: 0xFFFFFFFF (-1)\r\n");
  EXPECT_EQ(FormatString("%d.%02d.%03d", 1, 5, 50), "1.05.050");
  EXPECT_EQ(FormatString("%s=%llu", "big", 18446744073709551615ull), "big=18446744073709551615");
  EXPECT_EQ(FormatString("%.2f", static_cast<double>(148.5f)), "148.50");
  EXPECT_EQ(FormatString("%X", INT_MIN), "80000000");
}

TEST(FormatString, PassesTextWithoutConversionsThrough) {
  EXPECT_EQ(FormatString("\r\nMemory data dump...\r\n"), "\r\nMemory data dump...\r\n");
  EXPECT_EQ(FormatString(""), "");
  EXPECT_EQ(FormatString("100%%"), "100%");
}

TEST(FormatString, ReturnsLongTextsWhole) {
  const std::string word(300, 'x');
  const std::string text = FormatString(
      "%s %s %s %s %s %s %s %s %s %s %s %s %s %s %s %s", word.c_str(), word.c_str(), word.c_str(),
      word.c_str(), word.c_str(), word.c_str(), word.c_str(), word.c_str(), word.c_str(),
      word.c_str(), word.c_str(), word.c_str(), word.c_str(), word.c_str(), word.c_str(), word.c_str());
  EXPECT_EQ(text.size(), 16 * 300 + 15);
  EXPECT_EQ(text.substr(0, 301), word + " ");
  EXPECT_EQ(text.substr(text.size() - 300), word);
}

TEST(FormatString, ThrowsOnEncodingError) {
  // A wide character that cannot be encoded in the C locale makes snprintf
  // report an error; that is the one failure FormatString turns into an exception.
  const wchar_t unencodable[] = {static_cast<wchar_t>(0xD800), 0};
  try {
    FormatString("%ls", unencodable);
    FAIL() << "expected an exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Error during formatting.");
  }
}

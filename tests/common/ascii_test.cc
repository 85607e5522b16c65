#include "ascii.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AsciiTest, TrimTakesBlanksTabsAndLineEndsFromBothSides) {
  const struct {
    std::string text;
    std::string trimmed;
  } cases[] = {
      {"", ""},
      {" \t\r\n", ""},
      {"a", "a"},
      {" \ta b\r\n", "a b"},
      {"\n\nx\t", "x"},
      {std::string("\0a\0", 3), std::string("\0a\0", 3)},  // NUL is no blank
      {"\va\f", "\va\f"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(trim(c.text), c.trimmed) << testing::PrintToString(c.text);
}

TEST(AsciiTest, LowerByteAndHexValueOverEveryByte) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const bool upper = b >= 'A' && b <= 'Z';
    EXPECT_EQ(lower_byte(c), upper ? static_cast<char>(b + 32) : c) << b;
    int hex = -1;
    if (b >= '0' && b <= '9') hex = b - '0';
    if (b >= 'a' && b <= 'f') hex = b - 'a' + 10;
    if (b >= 'A' && b <= 'F') hex = b - 'A' + 10;
    EXPECT_EQ(hex_value(c), hex) << b;
  }
}

}  // namespace

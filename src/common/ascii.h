// Byte-wise text helpers that every layer needs: header values and URLs
// are ASCII whatever the bytes around them, so no locale is consulted.
#pragma once

#include <array>
#include <string_view>

// `text` without the blanks, tabs and line ends around it.
std::string_view trim(std::string_view text);

// "A".."Z" made "a".."z"; every other byte as it is.
constexpr char lower_byte(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Hex digit values, either case; -1 for every other byte. A table, because
// the quoted-printable decoder looks up two per escape.
inline constexpr std::array<signed char, 256> HEX_VALUES = [] {
  std::array<signed char, 256> values{};
  for (auto& v : values) v = -1;
  for (int d = 0; d < 10; ++d) values['0' + d] = static_cast<signed char>(d);
  for (int d = 0; d < 6; ++d) {
    values['A' + d] = static_cast<signed char>(10 + d);
    values['a' + d] = static_cast<signed char>(10 + d);
  }
  return values;
}();

constexpr int hex_value(char c) {
  return HEX_VALUES[static_cast<unsigned char>(c)];
}

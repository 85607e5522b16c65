#include "qp_decoder.h"

#include <array>
#include <cstring>

namespace {

// Hex digit values, either case; -1 for every other byte.
constexpr std::array<signed char, 256> make_hex_values() {
  std::array<signed char, 256> values{};
  for (auto& v : values) v = -1;
  for (int d = 0; d < 10; ++d) values['0' + d] = static_cast<signed char>(d);
  for (int d = 0; d < 6; ++d) {
    values['A' + d] = static_cast<signed char>(10 + d);
    values['a' + d] = static_cast<signed char>(10 + d);
  }
  return values;
}

constexpr std::array<signed char, 256> hex_values = make_hex_values();

int hex_value(char c) { return hex_values[static_cast<unsigned char>(c)]; }

}  // namespace

std::size_t decode_quoted_printable(std::string_view body,
                                    std::size_t& position, std::size_t stop,
                                    char* out) {
  const char* const s = body.data();
  const std::size_t n = body.size();
  char* const start = out;
  std::size_t i = position;
  while (i < stop) {
    const void* equals = std::memchr(s + i, '=', stop - i);
    const std::size_t run =
        (equals ? static_cast<const char*>(equals) - s : stop) - i;
    std::memcpy(out, s + i, run);
    out += run;
    i += run;
    if (equals == nullptr) break;
    // s[i] is "=".
    if (i + 2 < n) {
      const int high = hex_value(s[i + 1]);
      const int low = hex_value(s[i + 2]);
      if (high >= 0 && low >= 0) {
        *out++ = static_cast<char>(high << 4 | low);
        i += 3;
        continue;
      }
    }
    // A soft line break takes exactly one line end with it, so an empty
    // line after it stays. Any other "=" is dropped alone.
    if (i + 1 < n && s[i + 1] == '\r')
      i += (i + 2 < n && s[i + 2] == '\n') ? 3 : 2;
    else if (i + 1 < n && s[i + 1] == '\n')
      i += 2;
    else
      i += 1;
  }
  position = i;
  return static_cast<std::size_t>(out - start);
}

std::string decode_quoted_printable(std::string_view body) {
  std::string out(body.size(), '\0');
  std::size_t position = 0;
  out.resize(decode_quoted_printable(body, position, body.size(), out.data()));
  return out;
}

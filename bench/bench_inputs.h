// Inputs for the benchmarks, in the shape office programs write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "base64_table.h"

namespace bench {

inline constexpr std::string_view RFC_ALPHABET = RFC2045_ALPHABET;

inline std::string random_bytes(std::size_t size, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
  return bytes;
}

// Base64 in `alphabet`; with `line` > 0, lines of that many characters
// ending in CR LF, as office programs write them.
inline std::string encode_base64(const std::string& bytes,
                                 std::string_view alphabet,
                                 std::size_t line = 0) {
  std::string text;
  text.reserve(bytes.size() / 3 * 4 + bytes.size() / 24 + 8);
  std::size_t column = 0;
  auto put = [&](char c) {
    text += c;
    if (line != 0 && ++column == line) {
      text += "\r\n";
      column = 0;
    }
  };
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16 |
                            static_cast<unsigned char>(bytes[i + 1]) << 8 |
                            static_cast<unsigned char>(bytes[i + 2]);
    for (int shift : {18, 12, 6, 0}) put(alphabet[(v >> shift) & 63]);
  }
  if (line != 0 && column != 0) text += "\r\n";
  return text;
}

// An HTML page as an office program writes it: attribute soup, short text,
// some UTF-8, CR LF line ends.
inline std::string html_page(std::size_t size, unsigned seed) {
  static const char* const words[] = {
      "the",    "report", "sales", "region",      "quarter",
      "growth", "chart",  "table", "caf\xc3\xa9", "data",
      "value",  "total",  "page",  "style",       "r\xc3\xa9sum\xc3\xa9",
      "font"};
  std::mt19937 rng(seed);
  std::string page =
      "<html xmlns:o=\"urn:schemas-microsoft-com:office:office\">\r\n";
  while (page.size() < size) {
    page +=
        "<p class=MsoNormal style='margin-top:0cm;margin-bottom:0cm;"
        "line-height:normal'><span lang=EN-US style='font-size:11.0pt;"
        "font-family:\"Calibri\",sans-serif;color:#1F3864'>";
    for (unsigned w = 5 + rng() % 30; w > 0; --w) {
      page += words[rng() % (sizeof words / sizeof *words)];
      page += ' ';
    }
    page += "</span><img width=" + std::to_string(rng() % 1000) +
            " height=" + std::to_string(rng() % 1000) + "></p>\r\n";
  }
  return page;
}

// Quoted-printable as office programs write it: "=" and bytes above 126 as
// escapes, lines of at most 76 characters with soft breaks.
inline std::string encode_quoted_printable(const std::string& text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 5 / 4);
  std::size_t column = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += "\r\n";
      ++i;
      column = 0;
      continue;
    }
    const bool escape = c == '=' || c > 126 || (c < 32 && c != '\t');
    const std::size_t width = escape ? 3 : 1;
    if (column + width > 75) {
      out += "=\r\n";
      column = 0;
    }
    if (escape) {
      out += '=';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
    column += width;
  }
  return out;
}

}  // namespace bench

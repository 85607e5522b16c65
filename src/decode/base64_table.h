// The base64 alphabet as base64.conf gives it: one 6-bit value per byte.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

struct Base64table {
  std::array<std::uint8_t, 256> entries{};  // all 0 until loaded
  bool table_loaded = false;
};

// Fills `table` from the bytes of a base64.conf, echoing every line that sets
// an entry. A malformed line is fatal; the message names `file`.
void parse_base64conf(std::string_view content, Base64table& table,
                      std::string_view file = "base64.conf");

// Fills `table` as parse_base64conf would, without a word; false when a line
// is malformed.
bool parse_base64conf_quietly(std::string_view content, Base64table& table);

// The RFC 2045 alphabet, in the order of its values.
inline constexpr std::string_view RFC2045_ALPHABET =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// A loaded table that gives each character of `alphabet` its position.
Base64table base64table_of(std::string_view alphabet);

// True when `table` is exactly the RFC 2045 alphabet (and nothing else).
bool is_rfc2045_table(const Base64table& table);

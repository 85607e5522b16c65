// Base64 decoding through a table from base64.conf.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base64_table.h"
#include "vector_level.h"

// Lookup tables prepared once from a Base64table: each character's share of
// the three bytes of its group, so a group costs four lookups and three ORs.
struct Base64Decoder {
  std::array<std::uint32_t, 256> share0{}, share1{}, share2{}, share3{};
  bool rfc2045 = false;  // the standard alphabet: vector paths may be used

  explicit Base64Decoder(const Base64table& table);
};

// Decodes whole groups of four characters, three bytes each. `out` must have
// room for 3 * groups + 1 bytes.
void decode_base64_groups(const Base64Decoder& decoder, const char* in,
                          std::size_t groups, unsigned char* out);

// decode_base64_groups with the vector paths of `level`, which the processor
// must support; for tests and benchmarks that pit each path against the
// reference. Only the RFC 2045 alphabet has vector paths.
void decode_base64_groups_at(VectorLevel level, const Base64Decoder& decoder,
                             const char* in, std::size_t groups,
                             unsigned char* out);

// The table-driven reference for decode_base64_groups.
void decode_base64_groups_scalar(const Base64Decoder& decoder, const char* in,
                                 std::size_t groups, unsigned char* out);

// The final group of a body: its k characters that are not "=" padding at
// the end of the body give k - 1 whole bytes (none for k <= 1). Returns the
// number of bytes written to `out` (at most 3).
std::size_t decode_base64_final(const Base64Decoder& decoder,
                                std::string_view group, std::size_t padding,
                                unsigned char* out);

// Characters in the body's final group, and how many "=" end the body.
struct Base64Split {
  std::size_t whole_groups;  // groups decoded in full
  std::size_t padding;       // "=" at the end of the body
};
Base64Split split_base64_body(std::string_view body);

#include "base64_decoder.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "group shares are stored as little-endian words");

namespace {

// Entries are used as signed 8-bit values with arithmetic right shifts,
// which matters only for entries of 128 and above.
std::uint32_t low_byte(int value) {
  return static_cast<std::uint32_t>(value) & 0xFFu;
}

}  // namespace

Base64Decoder::Base64Decoder(const Base64table& table)
    : rfc2045(is_rfc2045_table(table)) {
  for (std::size_t c = 0; c < 256; ++c) {
    const int v = static_cast<std::int8_t>(table.entries[c]);
    share0[c] = low_byte(v * 4);
    share1[c] = low_byte(v >> 4) | low_byte(v * 16) << 8;
    share2[c] = low_byte(v >> 2) << 8 | low_byte(v * 64) << 16;
    share3[c] = low_byte(v) << 16;
  }
}

void decode_base64_groups_scalar(const Base64Decoder& decoder, const char* in,
                                 std::size_t groups, unsigned char* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(in);
  for (std::size_t g = 0; g < groups; ++g, s += 4, out += 3) {
    const std::uint32_t word = decoder.share0[s[0]] | decoder.share1[s[1]] |
                               decoder.share2[s[2]] | decoder.share3[s[3]];
    std::memcpy(out, &word, 4);  // the fourth byte is overwritten next
  }
}

std::size_t decode_base64_final(const Base64Decoder& decoder,
                                std::string_view group, std::size_t padding,
                                unsigned char* out) {
  const std::size_t k = group.size() > padding ? group.size() - padding : 0;
  if (k <= 1) return 0;
  char full[4] = {0, 0, 0, 0};
  std::memcpy(full, group.data(), k);
  unsigned char bytes[4];
  decode_base64_groups_scalar(decoder, full, 1, bytes);
  // Characters missing from the group count as the NUL byte's entry; the
  // bytes that need them are not written.
  std::memcpy(out, bytes, k - 1);
  return k - 1;
}

Base64Split split_base64_body(std::string_view body) {
  if (body.empty()) return {0, 0};
  const std::size_t last = body.find_last_not_of('=');
  const std::size_t padding =
      last == std::string_view::npos ? body.size() : body.size() - 1 - last;
  return {(body.size() - 1) / 4, padding};
}

std::string decode_base64(const Base64Decoder& decoder, std::string_view body) {
  const Base64Split split = split_base64_body(body);
  std::string out(split.whole_groups * 3 + 4, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(out.data());
  decode_base64_groups(decoder, body.data(), split.whole_groups, bytes);
  std::size_t size = split.whole_groups * 3;
  if (!body.empty())
    size += decode_base64_final(decoder, body.substr(split.whole_groups * 4),
                                split.padding, bytes + size);
  out.resize(size);
  return out;
}

void decode_base64_groups(const Base64Decoder& decoder, const char* in,
                          std::size_t groups, unsigned char* out) {
  decode_base64_groups_scalar(decoder, in, groups, out);
}

#include "base64_decoder.h"

#include <array>
#include <bit>
#include <cstring>

#include "vector_level.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

static_assert(std::endian::native == std::endian::little,
              "group shares are stored as little-endian words");

namespace {

// Entries are used as signed 8-bit values with arithmetic right shifts,
// which matters only for entries of 128 and above.
std::uint32_t low_byte(int value) {
  return static_cast<std::uint32_t>(value) & 0xFFU;
}

}  // namespace

Base64Decoder::Base64Decoder(const Base64table& table)
    : rfc2045(is_rfc2045_table(table)) {
  for (std::size_t c = 0; c < 256; ++c) {
    // Sign-extended on purpose: entries of 128 and above count as negative.
    // NOLINTNEXTLINE(bugprone-signed-char-misuse)
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

#if defined(__x86_64__) || defined(__i386__)

namespace {

// Eight groups of the RFC 2045 alphabet per 32-byte block: classify by
// nibbles, add the offset of each character's range, pack 6-bit values into
// bytes. A block holding any other byte ("=" included) goes the scalar way,
// which gives such bytes their table entry. Returns the groups decoded.
__attribute__((target("avx2"))) std::size_t decode_rfc2045_avx2(
    const Base64Decoder& decoder, const char* in, std::size_t groups,
    unsigned char* out) {
  const __m256i lut_lo = _mm256_setr_epi8(
      0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
      0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
      0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i lut_hi = _mm256_setr_epi8(
      0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
      0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
      0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  const __m256i lut_roll = _mm256_setr_epi8(
      0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
      -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i slash = _mm256_set1_epi8(0x2F);
  const __m256i pack_pairs = _mm256_set1_epi32(0x01400140);
  const __m256i pack_quads = _mm256_set1_epi32(0x00011000);
  const __m256i order =
      _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,
                       2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);

  std::size_t g = 0;
  for (; g + 8 <= groups; g += 8, in += 32, out += 24) {
    const __m256i chars =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi32(chars, 4), nibble);
    const __m256i lo = _mm256_and_si256(chars, nibble);
    const __m256i class_lo = _mm256_shuffle_epi8(lut_lo, lo);
    const __m256i class_hi = _mm256_shuffle_epi8(lut_hi, hi);
    if (!_mm256_testz_si256(class_lo, class_hi)) {
      decode_base64_groups_scalar(decoder, in, 8, out);
      continue;
    }
    const __m256i is_slash = _mm256_cmpeq_epi8(chars, slash);
    const __m256i roll =
        _mm256_shuffle_epi8(lut_roll, _mm256_add_epi8(is_slash, hi));
    const __m256i values = _mm256_add_epi8(chars, roll);
    const __m256i pairs = _mm256_maddubs_epi16(values, pack_pairs);
    const __m256i quads = _mm256_madd_epi16(pairs, pack_quads);
    const __m256i bytes =
        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(quads, order), lanes);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm256_castsi256_si128(bytes));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16),
                     _mm256_extracti128_si256(bytes, 1));
  }
  return g;
}

// Sixteen groups per 64-byte block: one two-table byte permute maps the
// RFC 2045 alphabet to its values and everything else to a byte with the
// high bit set, which sends the block the scalar way.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t
decode_rfc2045_avx512(const Base64Decoder& decoder, const char* in,
                      std::size_t groups, unsigned char* out) {
  alignas(64) static constexpr auto values = [] {
    std::array<unsigned char, 128> v{};
    for (auto& x : v) x = 0x80;
    for (std::size_t i = 0; i < RFC2045_ALPHABET.size(); ++i)
      v[static_cast<unsigned char>(RFC2045_ALPHABET[i])] =
          static_cast<unsigned char>(i);
    return v;
  }();
  alignas(64) static constexpr auto order = [] {
    std::array<unsigned char, 64> o{};
    for (std::size_t j = 0; j < 16; ++j) {
      o[3 * j] = static_cast<unsigned char>(4 * j + 2);
      o[3 * j + 1] = static_cast<unsigned char>(4 * j + 1);
      o[3 * j + 2] = static_cast<unsigned char>(4 * j);
    }
    return o;
  }();
  const __m512i low_half = _mm512_load_si512(values.data());
  const __m512i high_half = _mm512_load_si512(values.data() + 64);
  const __m512i pack_order = _mm512_load_si512(order.data());
  const __m512i pack_pairs = _mm512_set1_epi32(0x01400140);
  const __m512i pack_quads = _mm512_set1_epi32(0x00011000);
  constexpr __mmask64 first48 = (__mmask64{1} << 48) - 1;

  std::size_t g = 0;
  for (; g + 16 <= groups; g += 16, in += 64, out += 48) {
    const __m512i chars = _mm512_loadu_si512(in);
    const __m512i sixbits =
        _mm512_permutex2var_epi8(low_half, chars, high_half);
    if (_mm512_movepi8_mask(_mm512_or_si512(sixbits, chars)) != 0) {
      decode_base64_groups_scalar(decoder, in, 16, out);
      continue;
    }
    const __m512i pairs = _mm512_maddubs_epi16(sixbits, pack_pairs);
    const __m512i quads = _mm512_madd_epi16(pairs, pack_quads);
    // Two-table form with one table: the one-table permute's header trips
    // a false uninitialised warning in GCC 12.
    _mm512_mask_storeu_epi8(out, first48,
                            _mm512_permutex2var_epi8(quads, pack_order, quads));
  }
  return g;
}

}  // namespace

void decode_base64_groups_at(VectorLevel level, const Base64Decoder& decoder,
                             const char* in, std::size_t groups,
                             unsigned char* out) {
  if (decoder.rfc2045 && level != VectorLevel::scalar) {
    const std::size_t done =
        level == VectorLevel::avx512
            ? decode_rfc2045_avx512(decoder, in, groups, out)
            : decode_rfc2045_avx2(decoder, in, groups, out);
    in += done * 4;
    out += done * 3;
    groups -= done;
  }
  decode_base64_groups_scalar(decoder, in, groups, out);
}

#else

void decode_base64_groups_at(VectorLevel, const Base64Decoder& decoder,
                             const char* in, std::size_t groups,
                             unsigned char* out) {
  decode_base64_groups_scalar(decoder, in, groups, out);
}

#endif

void decode_base64_groups(const Base64Decoder& decoder, const char* in,
                          std::size_t groups, unsigned char* out) {
  decode_base64_groups_at(vector_level(), decoder, in, groups, out);
}

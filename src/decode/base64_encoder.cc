#include "base64_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

constexpr char ALPHABET[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two characters for each twelve bits: a group costs two lookups.
const auto PAIRS = [] {
  std::array<char, std::size_t{2} * 4096> pairs{};
  for (std::size_t v = 0; v < 4096; ++v) {
    pairs[2 * v] = ALPHABET[v >> 6];
    pairs[2 * v + 1] = ALPHABET[v & 63];
  }
  return pairs;
}();

void encode_scalar(const unsigned char* in, std::size_t groups, char* out) {
  for (std::size_t g = 0; g < groups; ++g, in += 3, out += 4) {
    const std::size_t value =
        (std::size_t{in[0]} << 16) | (std::size_t{in[1]} << 8) | in[2];
    std::memcpy(out, &PAIRS[2 * (value >> 12)], 2);
    std::memcpy(out + 2, &PAIRS[2 * (value & 0xFFF)], 2);
  }
}

#if defined(__x86_64__) || defined(__i386__)

// Eight groups per 32-byte block: each lane's twelve bytes spread to four
// 6-bit values per group (by multiplies that shift each field into place),
// then each value offset to its character by its range. The loads read 4
// bytes past the 24 used, so the last groups are left to the scalar way.
__attribute__((target("avx2"))) std::size_t encode_avx2(const unsigned char* in,
                                                        std::size_t groups,
                                                        char* out) {
  const __m256i spread =
      _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0,
                       2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  const __m256i high_fields = _mm256_set1_epi32(0x0FC0FC00);
  const __m256i high_shifts = _mm256_set1_epi32(0x04000040);
  const __m256i low_fields = _mm256_set1_epi32(0x003F03F0);
  const __m256i low_shifts = _mm256_set1_epi32(0x01000010);
  // Offsets to the character: A-Z, a-z, 0-9, "+", "/".
  const __m256i offsets = _mm256_setr_epi8(
      65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0, 65, 71,
      -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
  const __m256i fifty_one = _mm256_set1_epi8(51);
  const __m256i twenty_five = _mm256_set1_epi8(25);

  std::size_t g = 0;
  for (; g + 10 <= groups; g += 8, in += 24, out += 32) {
    const __m256i bytes =
        _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(in + 12),
                            reinterpret_cast<const __m128i*>(in));
    const __m256i spread_bytes = _mm256_shuffle_epi8(bytes, spread);
    const __m256i values = _mm256_or_si256(
        _mm256_mulhi_epu16(_mm256_and_si256(spread_bytes, high_fields),
                           high_shifts),
        _mm256_mullo_epi16(_mm256_and_si256(spread_bytes, low_fields),
                           low_shifts));
    __m256i range = _mm256_subs_epu8(values, fifty_one);
    range = _mm256_sub_epi8(range, _mm256_cmpgt_epi8(values, twenty_five));
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(out),
        _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, range)));
  }
  return g;
}

// Sixteen groups per 64-byte block: a byte permute puts each group's three
// bytes in a word, a multishift takes each 6-bit field, a permute of the
// alphabet gives its character.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t
encode_avx512(const unsigned char* in, std::size_t groups, char* out) {
  alignas(64) static constexpr auto order = [] {
    std::array<unsigned char, 64> o{};
    for (std::size_t j = 0; j < 16; ++j) {
      o[4 * j] = static_cast<unsigned char>(3 * j + 1);
      o[4 * j + 1] = static_cast<unsigned char>(3 * j);
      o[4 * j + 2] = static_cast<unsigned char>(3 * j + 2);
      o[4 * j + 3] = static_cast<unsigned char>(3 * j + 1);
    }
    return o;
  }();
  const __m512i spread = _mm512_load_si512(order.data());
  const __m512i alphabet = _mm512_loadu_si512(ALPHABET);
  const __m512i shifts = _mm512_set1_epi64(0x3036242a1016040aLL);
  constexpr __mmask64 first48 = (__mmask64{1} << 48) - 1;
  constexpr __mmask64 all = ~__mmask64{0};

  std::size_t g = 0;
  for (; g + 16 <= groups; g += 16, in += 48, out += 64) {
    // Zero-masked forms: the plain ones' headers trip a false uninitialised
    // warning in GCC 12.
    const __m512i bytes = _mm512_maskz_loadu_epi8(first48, in);
    const __m512i words = _mm512_maskz_permutexvar_epi8(all, spread, bytes);
    const __m512i fields =
        _mm512_maskz_multishift_epi64_epi8(all, shifts, words);
    _mm512_storeu_si512(out,
                        _mm512_maskz_permutexvar_epi8(all, fields, alphabet));
  }
  return g;
}

#endif

}  // namespace

void encode_base64_groups_at(VectorLevel level, const unsigned char* in,
                             std::size_t groups, char* out) {
  std::size_t done = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (level == VectorLevel::avx512)
    done = encode_avx512(in, groups, out);
  else if (level == VectorLevel::avx2)
    done = encode_avx2(in, groups, out);
#else
  (void)level;
#endif
  encode_scalar(in + 3 * done, groups - done, out + 4 * done);
}

std::size_t Base64EncodingSink::encode_groups(const unsigned char* in,
                                              std::size_t count) {
  std::size_t used = 0;
  while (count - used >= 3) {
    if (BLOCK - used_ < 4) flush();
    const std::size_t groups =
        std::min((count - used) / 3, (BLOCK - used_) / 4);
    encode_base64_groups_at(level_, in + used, groups, block_ + used_);
    used += 3 * groups;
    used_ += 4 * groups;
  }
  return used;
}

void Base64EncodingSink::put(const char* bytes, std::size_t count) {
  taken_ += count;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  if (carried_ > 0) {
    const std::size_t take = std::min(count, 3 - carried_);
    std::memcpy(carry_ + carried_, in, take);
    carried_ += take;
    in += take;
    count -= take;
    if (carried_ < 3) return;
    encode_groups(carry_, 3);
    carried_ = 0;
  }
  const std::size_t used = encode_groups(in, count);
  std::memcpy(carry_, in + used, count - used);
  carried_ = count - used;
}

void Base64EncodingSink::finish() {
  if (carried_ > 0) {
    if (carried_ == 1) carry_[1] = 0;
    carry_[2] = 0;
    encode_groups(carry_, 3);
    block_[used_ - 1] = '=';
    if (carried_ == 1) block_[used_ - 2] = '=';
    carried_ = 0;
  }
  flush();
}

void Base64EncodingSink::flush() {
  if (used_ > 0) out_.put(block_, used_);
  used_ = 0;
}

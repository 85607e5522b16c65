#include "qp_decoder.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "ascii.h"
#include "vector_level.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// Handles the "=" at s[i]: writes the escaped byte, or the "=" itself when
// it is data, and returns the index after what the "=" takes with it. A soft
// line break takes exactly one line end with it, so an empty line after it
// stays. Any other "=" is data, as RFC 2045 advises a robust decoder: the
// bytes after it are read as usual. Only the body's end decides, never the
// end of the span being decoded.
inline std::size_t take_equals(const char* s, std::size_t n, std::size_t i,
                               char*& out) {
  if (i + 2 < n) {
    const int high = hex_value(s[i + 1]);
    const int low = hex_value(s[i + 2]);
    if (high >= 0 && low >= 0) {
      *out++ = static_cast<char>(high << 4 | low);
      return i + 3;
    }
  }
  if (i + 1 < n && s[i + 1] == '\r')
    return i + ((i + 2 < n && s[i + 2] == '\n') ? 3 : 2);
  if (i + 1 < n && s[i + 1] == '\n') return i + 2;
  *out++ = '=';  // data, like any other byte
  return i + 1;
}

}  // namespace

std::size_t decode_quoted_printable_scalar(std::string_view body,
                                           std::size_t& position,
                                           std::size_t stop, char* out) {
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
    i = take_equals(s, n, i, out);
  }
  position = i;
  return static_cast<std::size_t>(out - start);
}

namespace {

#if defined(__x86_64__) || defined(__i386__)

// Copies 32 bytes at a time and stops only at "=": the text between escapes
// is stored whole, then the output moves on by as much of it as counts.
// Output never runs ahead of input, so the 32-byte stores stay inside the
// room the caller gives while 32 bytes of input before `stop` remain.
__attribute__((target("avx2"))) std::size_t decode_qp_avx2(
    const char* s, std::size_t n, std::size_t i, std::size_t stop, char*& out) {
  const __m256i equals = _mm256_set1_epi8('=');
  while (i + 32 <= stop) {
    const __m256i bytes =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
    const unsigned mask = static_cast<unsigned>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes, equals)));
    if (mask == 0) {
      i += 32;
      out += 32;
      continue;
    }
    const unsigned run = static_cast<unsigned>(__builtin_ctz(mask));
    i += run;
    out += run;
    i = take_equals(s, n, i, out);
  }
  return i;
}

// Each "=" is judged by the two bytes after it alone: the hex digits of an
// escape and the line end of a soft break are never "=", so no "=" is taken
// by another. So a 64-byte block is decoded at once: classify every "=" by
// the two bytes after it, put each escape's value in its place, and compress
// away what escapes and soft breaks take (an "=" that is data stays). An escape
// at the block's end takes up to two bytes of the next block with it (`carry`).
__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2"))) std::size_t
decode_qp_avx512(const char* s, std::size_t n, std::size_t i, std::size_t stop,
                 char*& out) {
  alignas(64) static constexpr auto hex = [] {
    std::array<signed char, 128> h{};
    for (std::size_t c = 0; c < 128; ++c)
      h[c] =
          HEX_VALUES[c] >= 0 ? HEX_VALUES[c] : static_cast<signed char>(-128);
    return h;
  }();
  const __m512i hex_low = _mm512_load_si512(hex.data());
  const __m512i hex_high = _mm512_load_si512(hex.data() + 64);
  const __m512i equals = _mm512_set1_epi8('=');
  const __m512i cr = _mm512_set1_epi8('\r');
  const __m512i lf = _mm512_set1_epi8('\n');
  const __m512i high_nibble = _mm512_set1_epi8(static_cast<char>(0xF0));
  __mmask64 carry = 0;
  while (i + 64 <= stop && i + 66 <= n) {
    const __m512i here = _mm512_loadu_si512(s + i);
    const __m512i next = _mm512_loadu_si512(s + i + 1);
    const __m512i after = _mm512_loadu_si512(s + i + 2);
    const __m512i high = _mm512_permutex2var_epi8(hex_low, next, hex_high);
    const __m512i low = _mm512_permutex2var_epi8(hex_low, after, hex_high);
    // A byte of 128 or more is no digit, whatever its low seven bits give.
    const __mmask64 digits = ~_mm512_movepi8_mask(_mm512_or_si512(high, next)) &
                             ~_mm512_movepi8_mask(_mm512_or_si512(low, after));
    const __mmask64 eq = _mm512_cmpeq_epi8_mask(here, equals);
    const __mmask64 escape = eq & digits;
    const __mmask64 other = eq & ~digits;
    const __mmask64 soft_cr = other & _mm512_cmpeq_epi8_mask(next, cr);
    const __mmask64 soft_lf = other & _mm512_cmpeq_epi8_mask(next, lf);
    const __mmask64 take1 = escape | soft_cr | soft_lf;
    const __mmask64 take2 =
        escape | (soft_cr & _mm512_cmpeq_epi8_mask(after, lf));
    // An escape's "=" takes its value; a soft break's goes; any other "="
    // stays as data.
    const __mmask64 drop = soft_cr | soft_lf | take1 << 1 | take2 << 2 | carry;
    carry = take1 >> 63 | take2 >> 62;
    const __m512i value = _mm512_or_si512(
        _mm512_and_si512(_mm512_slli_epi16(high, 4), high_nibble), low);
    const __m512i bytes = _mm512_mask_blend_epi8(escape, here, value);
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(~drop, bytes));
    out += 64 - static_cast<unsigned>(__builtin_popcountll(drop));
    i += 64;
  }
  return i + static_cast<unsigned>(__builtin_popcountll(carry));
}

#endif

}  // namespace

std::size_t decode_quoted_printable_at(VectorLevel level, std::string_view body,
                                       std::size_t& position, std::size_t stop,
                                       char* out) {
  std::size_t done = 0;
#if defined(__x86_64__) || defined(__i386__)
  if (level != VectorLevel::scalar) {
    char* p = out;
    position =
        level == VectorLevel::avx512
            ? decode_qp_avx512(body.data(), body.size(), position, stop, p)
            : decode_qp_avx2(body.data(), body.size(), position, stop, p);
    done = static_cast<std::size_t>(p - out);
  }
#else
  (void)level;
#endif
  return done +
         decode_quoted_printable_scalar(body, position, stop, out + done);
}

std::size_t decode_quoted_printable(std::string_view body,
                                    std::size_t& position, std::size_t stop,
                                    char* out) {
  return decode_quoted_printable_at(vector_level(), body, position, stop, out);
}

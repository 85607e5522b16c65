#include "line_ends.h"

#include <cstring>

#include "vector_level.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

std::string_view cut_line_end(std::string_view line) {
  const std::size_t n = line.size();
  if (n >= 2 && (line[n - 2] == '\r' || line[n - 2] == '\n'))
    return line.substr(0, n - 2);
  if (n >= 1 && (line[n - 1] == '\r' || line[n - 1] == '\n'))
    return line.substr(0, n - 1);
  return line;
}

std::size_t copy_without_line_ends_scalar(std::string_view lines, char* out) {
  char* const start = out;
  const char* p = lines.data();
  const char* const stop = p + lines.size();
  while (p < stop) {
    const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(stop - p));
    const char* line_end = lf ? static_cast<const char*>(lf) + 1 : stop;
    const std::string_view kept =
        cut_line_end({p, static_cast<std::size_t>(line_end - p)});
    std::memcpy(out, kept.data(), kept.size());
    out += kept.size();
    p = line_end;
  }
  return static_cast<std::size_t>(out - start);
}

#if defined(__x86_64__) || defined(__i386__)

namespace {

// Before the last LF, cutting lines means dropping every LF and every CR
// right before one. Blocks of 32 bytes without either are stored whole; in
// the others each kept stretch is stored 32 bytes wide and the output moves
// on by its length. Output never runs ahead of input, so with 64 bytes of
// input left every load and store stays inside the caller's buffers.
// Returns how many input bytes were handled.
__attribute__((target("avx2"))) std::size_t strip_avx2(const char* s,
                                                       std::size_t end,
                                                       char*& out) {
  const __m256i lf_byte = _mm256_set1_epi8('\n');
  const __m256i cr_byte = _mm256_set1_epi8('\r');
  std::size_t i = 0;
  while (i + 64 <= end) {
    const __m256i bytes =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
    const __m256i next =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 1));
    const __m256i cut =
        _mm256_or_si256(_mm256_cmpeq_epi8(bytes, lf_byte),
                        _mm256_and_si256(_mm256_cmpeq_epi8(bytes, cr_byte),
                                         _mm256_cmpeq_epi8(next, lf_byte)));
    unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(cut));
    if (mask == 0) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
      out += 32;
      i += 32;
      continue;
    }
    std::size_t from = i;  // first byte of the stretch being kept
    do {
      const std::size_t at = i + static_cast<unsigned>(__builtin_ctz(mask));
      _mm256_storeu_si256(
          reinterpret_cast<__m256i*>(out),
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + from)));
      out += at - from;
      from = at + 1;
      mask &= mask - 1;
    } while (mask != 0);
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(out),
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + from)));
    out += i + 32 - from;
    i += 32;
  }
  return i;
}

// The same with 64-byte blocks, whose kept bytes one compress gathers.
__attribute__((target("avx512f,avx512bw,avx512vbmi2"))) std::size_t
strip_avx512(const char* s, std::size_t end, char*& out) {
  const __m512i lf_byte = _mm512_set1_epi8('\n');
  const __m512i cr_byte = _mm512_set1_epi8('\r');
  std::size_t i = 0;
  for (; i + 65 <= end; i += 64) {
    const __m512i bytes = _mm512_loadu_si512(s + i);
    const __m512i next = _mm512_loadu_si512(s + i + 1);
    const __mmask64 cut = _mm512_cmpeq_epi8_mask(bytes, lf_byte) |
                          (_mm512_cmpeq_epi8_mask(bytes, cr_byte) &
                           _mm512_cmpeq_epi8_mask(next, lf_byte));
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(~cut, bytes));
    out += 64 - static_cast<unsigned>(__builtin_popcountll(cut));
  }
  return i;
}

}  // namespace

std::size_t copy_without_line_ends_at(VectorLevel level, std::string_view lines,
                                      char* out) {
  if (level == VectorLevel::scalar || lines.size() < 65)
    return copy_without_line_ends_scalar(lines, out);
  // The last line may lack its LF and is cut by its own rule: leave it, and
  // whatever the vector loop does not reach, to the reference.
  const void* last_lf = memrchr(lines.data(), '\n', lines.size());
  const std::size_t end =
      last_lf ? static_cast<std::size_t>(static_cast<const char*>(last_lf) -
                                         lines.data()) +
                    1
              : 0;
  char* p = out;
  const std::size_t done = level == VectorLevel::avx512
                               ? strip_avx512(lines.data(), end, p)
                               : strip_avx2(lines.data(), end, p);
  const std::size_t written = static_cast<std::size_t>(p - out);
  return written + copy_without_line_ends_scalar(lines.substr(done), p);
}

#else

std::size_t copy_without_line_ends_at(VectorLevel, std::string_view lines,
                                      char* out) {
  return copy_without_line_ends_scalar(lines, out);
}

#endif

std::size_t copy_without_line_ends(std::string_view lines, char* out) {
  return copy_without_line_ends_at(vector_level(), lines, out);
}

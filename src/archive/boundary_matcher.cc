#include "boundary_matcher.h"

#include <cstring>

#include "vector_level.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

BoundaryMatcher::BoundaryMatcher(std::string_view boundary)
    : needle_(boundary) {
  const std::size_t m = needle_.size();
  shift_.fill(m);
  for (std::size_t i = 0; i + 1 < m; ++i)
    shift_[static_cast<unsigned char>(needle_[i])] = m - 1 - i;
}

std::size_t BoundaryMatcher::find_horspool(std::string_view haystack) const {
  const std::size_t m = needle_.size();
  const std::size_t n = haystack.size();
  if (m == 0) return 0;
  if (n < m) return npos;
  const char* hay = haystack.data();
  if (m == 1) {
    const void* hit = std::memchr(hay, needle_[0], n);
    return hit ? static_cast<const char*>(hit) - hay : npos;
  }
  const char* needle = needle_.data();
  const unsigned char last = static_cast<unsigned char>(needle[m - 1]);
  std::size_t i = 0;
  while (i <= n - m) {
    const unsigned char c = static_cast<unsigned char>(hay[i + m - 1]);
    if (c == last && std::memcmp(hay + i, needle, m - 1) == 0) return i;
    i += shift_[c];
  }
  return npos;
}

#if defined(__x86_64__) || defined(__i386__)

namespace {

// Tests 32 window positions at once by their first and last bytes; only a
// position where both agree is compared in full. Bodies seldom hold the
// boundary's first byte, so most blocks cost two loads and two compares.
// Returns the first match, or npos with `from` set to the first position
// left untested.
__attribute__((target("avx2"))) std::size_t find_avx2(const char* hay,
                                                      std::size_t n,
                                                      const char* needle,
                                                      std::size_t m,
                                                      std::size_t& from) {
  const __m256i first = _mm256_set1_epi8(needle[0]);
  const __m256i last = _mm256_set1_epi8(needle[m - 1]);
  std::size_t i = 0;
  for (; i + m - 1 + 32 <= n; i += 32) {
    const __m256i head =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hay + i));
    const __m256i tail =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hay + i + m - 1));
    unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_and_si256(
        _mm256_cmpeq_epi8(head, first), _mm256_cmpeq_epi8(tail, last))));
    while (mask != 0) {
      const std::size_t at = i + static_cast<unsigned>(__builtin_ctz(mask));
      if (std::memcmp(hay + at + 1, needle + 1, m - 2) == 0) return at;
      mask &= mask - 1;
    }
  }
  from = i;
  return BoundaryMatcher::npos;
}

}  // namespace

std::size_t BoundaryMatcher::find(std::string_view haystack) const {
  const std::size_t m = needle_.size();
  if (m < 2 || haystack.size() < m + 32 ||
      vector_level() == VectorLevel::scalar)
    return find_horspool(haystack);
  std::size_t from = 0;
  const std::size_t hit =
      find_avx2(haystack.data(), haystack.size(), needle_.data(), m, from);
  if (hit != npos) return hit;
  const std::size_t rest = find_horspool(haystack.substr(from));
  return rest == npos ? npos : from + rest;
}

#else

std::size_t BoundaryMatcher::find(std::string_view haystack) const {
  return find_horspool(haystack);
}

#endif

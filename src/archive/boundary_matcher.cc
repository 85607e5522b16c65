#include "boundary_matcher.h"

#include <cstring>

BoundaryMatcher::BoundaryMatcher(std::string_view boundary)
    : needle_(boundary) {
  const std::size_t m = needle_.size();
  shift_.fill(m);
  for (std::size_t i = 0; i + 1 < m; ++i)
    shift_[static_cast<unsigned char>(needle_[i])] = m - 1 - i;
}

std::size_t BoundaryMatcher::find(std::string_view haystack) const {
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

#include "boundary_matcher.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

struct FindCase {
  std::string needle;
  std::string haystack;
  std::size_t expected;
};

const FindCase FIND_CASES[] = {
    {"B", "--B\n", 2},
    {"B", "no match", BoundaryMatcher::npos},
    {"abc", "abc", 0},
    {"abc", "xxabc", 2},
    {"abc", "ab", BoundaryMatcher::npos},
    {"abc", "abxabc", 3},
    {"aab", "aaab", 1},
    {"abab", "abaabab", 3},
    {"----=_NextPart_01", "------=_NextPart_01\r\n", 2},
    {"boundary", "Boundary BOUNDARY boundar", BoundaryMatcher::npos},
    {std::string("a\0b", 3), std::string("xa\0a\0b", 6), 3},
    {"\xff\x80", "\x80\xff\xff\x80", 2},
    // The first occurrence, not a later one.
    {"xyz", "xyzxyz", 0},
};

TEST(BoundaryMatcherTest, FindsFirstOccurrence) {
  for (const FindCase& c : FIND_CASES) {
    const BoundaryMatcher matcher(c.needle);
    EXPECT_EQ(matcher.find(c.haystack), c.expected)
        << "needle " << c.needle << " in " << c.haystack;
    EXPECT_EQ(matcher.size(), c.needle.size());
  }
}

// Every position and every mismatch pattern agrees with std::string::find.
TEST(BoundaryMatcherTest, AgreesWithStringFind) {
  const std::string needles[] = {
      "q",      "ab",       "aba",
      "=_Next", "zzzzzzzz", "----=_NextPart_01DA0B1C.2E3F4A50"};
  for (const std::string& needle : needles) {
    const BoundaryMatcher matcher(needle);
    // Haystacks over a small alphabet so that near-misses are frequent.
    for (unsigned seed = 0; seed < 200; ++seed) {
      std::string hay = test_support::pseudo_random_bytes(seed % 97 + 1, seed);
      for (char& c : hay) c = "ab=_-z"[static_cast<unsigned char>(c) % 6];
      if (seed % 3 == 0) hay.insert(seed % hay.size(), needle);
      EXPECT_EQ(matcher.find(hay), hay.find(needle))
          << "needle " << needle << " in " << hay;
    }
  }
}

}  // namespace

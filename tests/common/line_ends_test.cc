// The vector paths of the archive reader against their references: cutting
// line ends out of base64 bodies, and finding the boundary.
#include "line_ends.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "archive_reader.h"
#include "boundary_matcher.h"
#include "test_support.h"
#include "vector_level.h"

namespace {

class LineEndsSimd : public test_support::EachVectorLevel {};
INSTANTIATE_TEST_SUITE_P(Levels, LineEndsSimd, test_support::ALL_VECTOR_LEVELS,
                         test_support::level_name);

// Lines of random length ending in LF, CR LF or CR CR LF, with CRs inside
// them too, and a last line that may lack its LF (and may end in CR).
std::string random_lines(std::mt19937& rng, std::size_t length) {
  static const char* const ends[] = {"\r\n", "\n", "\r\r\n", "\r\n", "\r\n"};
  std::string lines;
  while (lines.size() < length) {
    const std::size_t width = rng() % 3 == 0 ? rng() % 8 : 60 + rng() % 20;
    for (std::size_t i = 0; i < width; ++i)
      lines += rng() % 40 == 0 ? '\r' : static_cast<char>('A' + rng() % 26);
    lines += ends[rng() % 5];
  }
  lines.resize(length);  // the last line is cut anywhere, LF or not
  if (!lines.empty() && rng() % 4 == 0) lines.back() = '\r';
  return lines;
}

std::string strip(VectorLevel level, bool reference, const std::string& in) {
  std::vector<char> out(in.size());
  const std::size_t n = reference
                            ? copy_without_line_ends_scalar(in, out.data())
                            : copy_without_line_ends_at(level, in, out.data());
  return std::string(out.data(), n);
}

TEST_P(LineEndsSimd, EveryLengthMatchesTheReference) {
  const VectorLevel level = GetParam();
  std::mt19937 rng(1);
  for (std::size_t length = 0; length <= 400; ++length)
    for (int round = 0; round < 6; ++round) {
      const std::string lines = random_lines(rng, length);
      ASSERT_EQ(strip(level, false, lines), strip(level, true, lines))
          << "length " << length;
    }
  // A body as large as a read block, plus a few bytes.
  const std::string large = random_lines(rng, READ_BLOCK + 3);
  EXPECT_EQ(strip(level, false, large), strip(level, true, large));
}

TEST_P(LineEndsSimd, CutsAsTheLineReaderDoes) {
  // Every LF goes, with a CR right before it; other CRs stay; a last line
  // without LF loses a CR among its last two bytes and what follows it.
  const std::string body = std::string(70, 'A') + "\r\n" + "B\rC\n" +
                           std::string(70, 'D') + "\r\r\n" + "\r\n" + "\n" +
                           std::string(40, 'E') + "\rF";
  const std::string expected = std::string(70, 'A') + "B\rC" +
                               std::string(70, 'D') + "\r" +
                               std::string(40, 'E');
  EXPECT_EQ(strip(GetParam(), false, body), expected);
}

struct CutCase {
  std::string line;
  std::string kept;
};

TEST(CutLineEndTest, CutsCrOrLfAmongTheLastTwoBytes) {
  const CutCase cases[] = {
      {"abc\r\n", "abc"}, {"abc\n", "abc"}, {"abc\r", "abc"},   {"abc", "abc"},
      {"\r\n", ""},       {"\n", ""},       {"", ""},           {"a\n\n", "a"},
      {"ab\rc", "ab"},    {"a\nb", "a"},    {"x\r\n\n", "x\r"},
  };
  for (const CutCase& c : cases) EXPECT_EQ(cut_line_end(c.line), c.kept);
}

TEST(BoundarySimd, FindsWhatHorspoolFinds) {
  std::mt19937 rng(9);
  for (int round = 0; round < 3000; ++round) {
    std::string needle;
    const std::size_t m = 1 + rng() % 40;
    for (std::size_t i = 0; i < m; ++i)
      needle += static_cast<char>("-=_Nx0A\r\n"[rng() % 9]);
    if (rng() % 4 == 0) needle.back() = needle.front();
    const BoundaryMatcher matcher(needle);
    std::string hay;
    const std::size_t n = rng() % 400;
    while (hay.size() < n) {
      const unsigned pick = rng() % 50;
      if (pick == 0)
        hay += needle;
      else if (pick == 1)
        hay += needle.substr(0, needle.size() - 1);  // a near miss
      else
        hay += static_cast<char>("-=_Nx0AB\r\n"[rng() % 10]);
    }
    ASSERT_EQ(matcher.find(hay), matcher.find_horspool(hay))
        << needle << " in " << hay;
  }
  const BoundaryMatcher matcher("----=_NextPart_01DA0B1C.2E3F4A50");
  std::string large(3 << 20, 'Q');
  EXPECT_EQ(matcher.find(large), BoundaryMatcher::npos);
  large.replace(large.size() - 40, 34, "------=_NextPart_01DA0B1C.2E3F4A50");
  EXPECT_EQ(matcher.find(large), large.size() - 38);
}

}  // namespace

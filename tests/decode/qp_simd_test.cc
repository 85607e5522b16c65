// The vector quoted-printable paths against the byte-at-a-time reference,
// whole bodies and bodies decoded in blocks, as files are written.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "part_decoder.h"
#include "qp_decoder.h"
#include "test_support.h"
#include "vector_level.h"

namespace {

class QpSimd : public test_support::EachVectorLevel {};
INSTANTIATE_TEST_SUITE_P(Levels, QpSimd, test_support::ALL_VECTOR_LEVELS,
                         test_support::level_name);

// HTML as office programs write it, with escapes of every kind and the
// bytes that look like them: soft breaks with CR LF, LF or a lone CR,
// lower-case digits, broken escapes, high bytes whose low bits are digits.
std::string random_body(std::mt19937& rng, std::size_t length) {
  static const char* const pieces[] = {
      "=3D", "=3d",      "=\r\n",  "=\n",      "=\r",       "=",      "==",
      "=4",  "=G1",      "=C3=A9", "=\r=",     "=0",        "\r\n",   "\n",
      "\r",  "<p class", "=20",    "\xb3\xc4", "=\xb3\xc4", "=3\xc4", "span",
      "x",   "=\0",      "===3D",  "=\r\r\n"};
  std::string body;
  while (body.size() < length) {
    if (rng() % 3 == 0)
      body += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    else
      body +=
          static_cast<char>(rng() % 4 == 0 ? rng() & 0xFF : 'a' + rng() % 26);
  }
  body.resize(length);
  return body;
}

// Decodes body[position, stop) as the caller would: output room exactly
// stop - position, the position handed back.
std::string decode_span(VectorLevel level, bool reference,
                        const std::string& body, std::size_t& position,
                        std::size_t stop) {
  std::vector<char> out(stop > position ? stop - position : 0);
  const std::size_t n =
      reference
          ? decode_quoted_printable_scalar(body, position, stop, out.data())
          : decode_quoted_printable_at(level, body, position, stop, out.data());
  return std::string(out.data(), n);
}

// The whole body in blocks of `block` input bytes.
std::string decode_blocks(VectorLevel level, bool reference,
                          const std::string& body, std::size_t block) {
  std::string out;
  std::size_t position = 0;
  while (position < body.size()) {
    const std::size_t stop =
        body.size() - position > block ? position + block : body.size();
    out += decode_span(level, reference, body, position, stop);
  }
  return out;
}

TEST_P(QpSimd, EveryLengthMatchesTheReference) {
  std::mt19937 rng(2045);
  const VectorLevel level = GetParam();
  for (std::size_t length = 0; length <= 400; ++length)
    for (int round = 0; round < 4; ++round) {
      const std::string body = random_body(rng, length);
      for (std::size_t block : {std::size_t{1} << 30, std::size_t{64},
                                std::size_t{65}, std::size_t{7}})
        ASSERT_EQ(decode_blocks(level, false, body, block),
                  decode_blocks(level, true, body, block))
            << "length " << length << " block " << block;
    }
}

TEST_P(QpSimd, AnySpanStopsWhereTheReferenceStops) {
  std::mt19937 rng(1521);
  const VectorLevel level = GetParam();
  for (int round = 0; round < 2000; ++round) {
    const std::string body = random_body(rng, rng() % 300);
    std::size_t start = body.empty() ? 0 : rng() % body.size();
    const std::size_t stop =
        start +
        (body.size() - start > 0 ? rng() % (body.size() - start + 1) : 0);
    std::size_t fast_position = start;
    std::size_t reference_position = start;
    ASSERT_EQ(decode_span(level, false, body, fast_position, stop),
              decode_span(level, true, body, reference_position, stop));
    ASSERT_EQ(fast_position, reference_position);
  }
}

TEST_P(QpSimd, LargeBodiesMatchTheReference) {
  std::mt19937 rng(76);
  const std::string body = random_body(rng, 2 * DECODE_BLOCK + 5);
  const VectorLevel level = GetParam();
  EXPECT_EQ(decode_blocks(level, false, body, DECODE_BLOCK),
            decode_blocks(level, true, body, DECODE_BLOCK));
}

TEST_P(QpSimd, KnownEscapes) {
  // Values from RFC 2045's rules as this tool applies them.
  const struct {
    std::string body;
    std::string expected;
  } cases[] = {
      {std::string(70, 'a') + "=3D=3d=\r\nb=\nc=\r" + std::string(70, 'd'),
       std::string(70, 'a') + "==bc" + std::string(70, 'd')},
      {std::string(100, '-') + "x=4", std::string(100, '-') + "x=4"},
      // Data "=" at every place of a 64-byte block, and at its edges.
      {std::string(63, 'g') + "=G1=" + std::string(61, 'h') + "==41=",
       std::string(63, 'g') + "=G1=" + std::string(61, 'h') + "=A="},
      {std::string(62, 'e') + "=C3=A9" + std::string(70, 'f'),
       std::string(62, 'e') + "\xc3\xa9" + std::string(70, 'f')},
  };
  const VectorLevel level = GetParam();
  for (const auto& c : cases) {
    std::size_t position = 0;
    EXPECT_EQ(decode_span(level, false, c.body, position, c.body.size()),
              c.expected);
  }
}

}  // namespace

#include "qp_decoder.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using test_support::decode_quoted_printable_whole;

struct QpCase {
  std::string body;
  std::string bytes;
};

const QpCase QP_CASES[] = {
    {"", ""},
    {"plain text\r\nline two\n", "plain text\r\nline two\n"},
    // Escapes, hex digits of either case.
    {"=3D", "="},
    {"=3d", "="},
    {"a=3Db=3dc", "a=b=c"},
    {"=41=42=43", "ABC"},
    {"=4a=4A=Aa=aA=fF", "JJ\xaa\xaa\xff"},
    {"=00", std::string(1, '\0')},
    {"=3D3D", "=3D"},
    {"Caf=C3=A9", "Caf\xc3\xa9"},
    // Soft line breaks take the "=" and exactly one line end.
    {"a=\r\nb", "ab"},
    {"a=\nb", "ab"},
    {"a=\rb", "ab"},
    {"a=\r\n\r\nb", "a\r\nb"},
    {"a=\n\nb", "a\nb"},
    {"a=\r\rb", "a\rb"},
    {"a=\n\r\nb", "a\r\nb"},
    {"a=\r\n=\r\nb", "ab"},
    {"line=\r\n", "line"},
    // Any other "=" is data, and what follows it is read as usual.
    {"=G1", "=G1"},
    {"=4G", "=4G"},
    {"=a", "=a"},
    {"= x", "= x"},
    {"==41", "=A"},
    {"===3D", "==="},
    {"a=\tb", "a=\tb"},
    {std::string("=\0", 2), std::string("=\0", 2)},
    // Word writes a soft break just before an attribute's "=".
    {"o:spid=\r\n=\"_x0000_i1025\"", "o:spid=\"_x0000_i1025\""},
    // Nothing is read past the end of the body.
    {"=", "="},
    {"x=", "x="},
    {"x=4", "x=4"},
    {"x=\r", "x"},
    {"x=\n", "x"},
    {"x=A", "x=A"},
    // Raw 8-bit bytes and NUL bytes pass unchanged.
    {"\xe9\xff\x80", "\xe9\xff\x80"},
    {std::string("a\0b=00", 6), std::string("a\0b\0", 4)},
};

TEST(QuotedPrintableTest, DecodesWholeBodies) {
  for (const QpCase& c : QP_CASES)
    EXPECT_EQ(decode_quoted_printable_whole(c.body), c.bytes) << c.body;
}

// Bytes after the body in memory must not change what it decodes to: "x=4"
// followed by "1" elsewhere is still "x=4".
TEST(QuotedPrintableTest, NeverReadsPastTheEndOfTheBody) {
  for (const QpCase& c : QP_CASES) {
    for (const std::string after : {"1", "3D", "\n", "\r\n"}) {
      const std::string backing = c.body + after;
      const std::string_view body(backing.data(), c.body.size());
      EXPECT_EQ(decode_quoted_printable_whole(body), c.bytes)
          << c.body << " followed by " << after;
    }
  }
}

// The body is decoded in blocks; a block may end anywhere, even inside an
// escape or a soft line break, and the result must not change.
TEST(QuotedPrintableTest, DecodingInBlocksGivesTheSameBytes) {
  for (const QpCase& c : QP_CASES) {
    for (std::size_t block = 1; block <= 4; ++block) {
      std::string out(c.body.size(), '\0');
      std::size_t written = 0;
      std::size_t position = 0;
      while (position < c.body.size()) {
        const std::size_t stop = std::min(position + block, c.body.size());
        written += decode_quoted_printable(c.body, position, stop,
                                           out.data() + written);
        EXPECT_GE(position, stop);
      }
      out.resize(written);
      EXPECT_EQ(out, c.bytes) << c.body << " in blocks of " << block;
    }
  }
}

// Every byte escaped, in both cases, with soft breaks of every kind: the
// decoder must give back the original bytes.
TEST(QuotedPrintableTest, RoundTripsEveryByteValue) {
  const std::string data = test_support::pseudo_random_bytes(5000, 5);
  const char* const upper = "0123456789ABCDEF";
  const char* const lower = "0123456789abcdef";
  const char* const breaks[] = {"=\r\n", "=\n", "=\r"};
  std::string encoded;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(data[i]);
    const char* digits = i % 2 ? lower : upper;
    encoded += '=';
    encoded += digits[b >> 4];
    encoded += digits[b & 15];
    if (i % 25 == 24) encoded += breaks[i % 3];
  }
  EXPECT_TRUE(decode_quoted_printable_whole(encoded) == data);
}

}  // namespace

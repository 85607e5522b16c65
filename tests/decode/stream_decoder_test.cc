// Bodies fed in runs of any size decode exactly as whole bodies do, at
// every vector level: the bytes that wait between runs (a base64 group, a
// line's last bytes, an "=" and what follows it) are settled the same way.
#include "stream_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base64_table.h"
#include "line_ends.h"
#include "qp_decoder.h"
#include "test_support.h"

namespace {

class StringSink final : public DecodeSink {
 public:
  void put(const char* bytes, std::size_t count) override {
    text.append(bytes, count);
  }
  std::string text;
};

class StreamDecoderTest : public test_support::EachVectorLevel {};
INSTANTIATE_TEST_SUITE_P(Levels, StreamDecoderTest,
                         test_support::ALL_VECTOR_LEVELS,
                         test_support::level_name);

const Base64Decoder& rfc2045() {
  static const Base64Decoder decoder(base64table_of(RFC2045_ALPHABET));
  return decoder;
}

// The reference: the body whole, its line ends cut line by line first.
std::string whole(const std::string& body, bool base64) {
  if (!base64) {
    std::string out(body.size(), '\0');
    std::size_t position = 0;
    out.resize(decode_quoted_printable_scalar(body, position, body.size(),
                                              out.data()));
    return out;
  }
  std::string chars(body.size(), '\0');
  chars.resize(copy_without_line_ends_scalar(body, chars.data()));
  return test_support::decode_base64_whole(rfc2045(), chars);
}

std::string streamed(VectorLevel level, const std::string& body, bool base64,
                     std::size_t run) {
  StreamDecoder decoder(base64 ? &rfc2045() : nullptr, level);
  StringSink sink;
  // Empty runs with no bytes behind them (an empty body's view) change
  // nothing, wherever they come.
  decoder.feed(std::string_view(), sink);
  for (std::size_t at = 0; at < body.size(); at += run) {
    decoder.feed(std::string_view(body).substr(at, run), sink);
    decoder.feed(std::string_view(), sink);
  }
  decoder.finish(sink);
  return sink.text;
}

std::string random_base64_lines(std::mt19937& rng, std::size_t size) {
  const std::string data = test_support::pseudo_random_bytes(size, rng());
  std::string encoded = test_support::reference_base64(data, rng() % 2 == 0);
  std::string body;
  for (std::size_t at = 0; at < encoded.size(); at += 76)
    body += encoded.substr(at, 76) + (rng() % 3 == 0 ? "\n" : "\r\n");
  return body;
}

// Bytes that make every rule matter: line ends of each kind, stray CRs,
// "=" in every position, escapes of either case, high bytes.
std::string random_mix(std::mt19937& rng, std::size_t size) {
  static const char* const pieces[] = {
      "=3D",  "=3d", "=\r\n", "=\n",  "=\r",  "=",   "==",     "=4",      "=G1",
      "\r\n", "\n",  "\r",    "QUJD", "QQ==", "===", "\r\r\n", "\xc3\xa9"};
  std::string body;
  while (body.size() < size) {
    if (rng() % 2 == 0)
      body += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    else
      body += static_cast<char>('A' + rng() % 58);
  }
  return body;
}

TEST_P(StreamDecoderTest, RunsOfAnySizeDecodeAsTheWholeBody) {
  std::mt19937 rng(2026);
  std::vector<std::string> bodies = {"",
                                     "Q",
                                     "QQ",
                                     "QQ=",
                                     "QQ==",
                                     "QUI=",
                                     "QUJD",
                                     "QUJDRA",
                                     "QUJDRA==",
                                     "QUJD\r\nREVG\nR0g=\r\n",
                                     "QUJD\r\n",
                                     "QUJDRA\r",
                                     "QUJDR\rA",
                                     "QUJDRA\r\r",
                                     "QUJD\rREVG\r\n",
                                     "\r\n\r\n",
                                     "====",
                                     "QQ======",
                                     "\r",
                                     "\n",
                                     "=",
                                     "=4",
                                     "=41",
                                     "==41",
                                     "a=\r\nb",
                                     "a=\rb",
                                     "a=\nb",
                                     "=\r",
                                     "=\r\n",
                                     "x=4\r\n",
                                     "=G1\n",
                                     "=3d=3D\r\n",
                                     "a\r\n=\r\n\r\nb"};
  for (int i = 0; i < 40; ++i) bodies.push_back(random_mix(rng, rng() % 300));
  for (int i = 0; i < 4; ++i)
    bodies.push_back(random_base64_lines(rng, rng() % 2000));
  // Past a decode block, so that blocks end inside lines and groups.
  bodies.push_back(random_base64_lines(rng, DECODE_BLOCK + 1001));
  bodies.push_back(random_mix(rng, DECODE_BLOCK * 2 + 77));
  for (const std::string& body : bodies) {
    for (const bool base64 : {true, false}) {
      const std::string expected = whole(body, base64);
      for (const std::size_t run : {1, 2, 3, 7, 64, 4093}) {
        if (body.size() > 100000 && run < 7) continue;
        ASSERT_TRUE(streamed(GetParam(), body, base64, run) == expected)
            << "base64 " << base64 << " run " << run << " size " << body.size()
            << " body " << body.substr(0, 40);
      }
      ASSERT_TRUE(streamed(GetParam(), body, base64, body.size() + 1) ==
                  expected);
    }
  }
}

// MIME's own bodies (--any-layout, RFC 2045 alphabet): stray bytes are
// skipped and the padding that completes a group ends the data. Expected
// bytes are what Python's email package decodes for each body; every body
// is cut into two runs at every byte, and into runs of one byte.
TEST_P(StreamDecoderTest, Rfc2045InputSkipsStraysAndEndsAtPadding) {
  struct Case {
    std::string body;
    std::string decoded;
  };
  // clang-format off
  const Case cases[] = {
      {std::string("QUJD\x0d""\x0a""REVG\x0d""\x0a""", 12),
       std::string("ABCDEF", 6)},
      {std::string("QQ==\x0d""\x0a""QkI=\x0d""\x0a""Q0ND\x0d""\x0a""", 18),
       std::string("A", 1)},
      {std::string("QUI=\x0a""QkM=\x0a""", 10),
       std::string("AB", 2)},
      {std::string("QU JD\x09""RE\x00""VG!\x0d""\x0a""", 14),
       std::string("ABCDEF", 6)},
      {std::string("QUJD=REVG\x0a""", 10),
       std::string("ABCDEF", 6)},
      {std::string("QUJDR=EVG\x0a""", 10),
       std::string("ABCDEF", 6)},
      {std::string("QUJDRE=VG\x0a""", 10),
       std::string("ABCDEF", 6)},
      {std::string("QUJDREV=G\x0a""", 10),
       std::string("ABCDE", 5)},
      {std::string("QU\x0d""JD\x0d""\x0a""", 7),
       std::string("ABC", 3)},
      {std::string("QUJDREVGRw\x0a""", 11),
       std::string("ABCDEFG", 7)},
      {std::string("QUJDREVGR0g\x0a""", 12),
       std::string("ABCDEFGH", 8)},
      {std::string("QU=JDQU=JD", 10),
       std::string("ABCABC", 6)},
      {std::string("QUJDRE=V=G", 10),
       std::string("ABCDE", 5)},
      {std::string("QU=J=D", 6),
       std::string("AB", 2)},
      {std::string("QUJDR\x0d""\x0a""=\x0d""\x0a""=\x0d""\x0a""RUY=\x0d""\x0a""", 19),
       std::string("ABCE\x15""\x18""", 6)},
      {std::string("QUJDRE=*=VG", 11),
       std::string("ABCD", 4)},
      {std::string("QUJD\x0d""\x0a""==\x0d""\x0a""REVG", 14),
       std::string("ABCDEF", 6)},
      {std::string("=QUJD", 5),
       std::string("ABC", 3)},
      {std::string("QUJD====", 8),
       std::string("ABC", 3)},
      {std::string("\xff""\xfe""QUJD\x80""REVG", 11),
       std::string("ABCDEF", 6)},
      {std::string("QUJDREVG\x0d""", 9),
       std::string("ABCDEF", 6)},
      {std::string("QUJDREVG\x0d""\x0d""\x0a""", 11),
       std::string("ABCDEF", 6)},
      {std::string("aGVsbG8=\x0d""\x0a""IHdvcmxk\x0d""\x0a""", 20),
       std::string("hello", 5)},
      {std::string("aGVsbA==\x0d""\x0a""byB3b3JsZA==\x0d""\x0a""", 24),
       std::string("hell", 4)},
  };
  // clang-format on
  const auto decode = [&](const std::string& body, std::size_t cut,
                          std::size_t run) {
    StreamDecoder decoder(&rfc2045(), GetParam(), Base64Input::rfc2045);
    StringSink sink;
    decoder.feed(std::string_view(body).substr(0, cut), sink);
    for (std::size_t at = cut; at < body.size(); at += run)
      decoder.feed(std::string_view(body).substr(at, run), sink);
    decoder.finish(sink);
    return sink.text;
  };
  for (const Case& c : cases) {
    for (std::size_t cut = 0; cut <= c.body.size(); ++cut) {
      EXPECT_EQ(decode(c.body, cut, c.body.size()), c.decoded)
          << testing::PrintToString(c.body) << " cut at " << cut;
    }
    EXPECT_EQ(decode(c.body, 0, 1), c.decoded)
        << testing::PrintToString(c.body);
  }
}

// A large body with strays spread through it decodes as the body without
// them; one that holds none goes the fast way, to the same bytes as the
// default input; padding in its middle ends it there.
TEST_P(StreamDecoderTest, Rfc2045InputOnLargeBodies) {
  std::mt19937 rng(45);
  const std::string clean = random_base64_lines(rng, DECODE_BLOCK + 3001);
  std::string strays;
  for (const char c : clean) {
    strays += c;
    if (rng() % 50 == 0) strays += " \t\x01!*\xff\r"[rng() % 7];
  }
  const std::string padded = test_support::reference_base64("abcd") + "\r\n" +
                             clean;  // "YWJjZA==" then the rest
  const auto decode = [&](const std::string& body, std::size_t run,
                          Base64Input input) {
    StreamDecoder decoder(&rfc2045(), GetParam(), input);
    StringSink sink;
    for (std::size_t at = 0; at < body.size(); at += run)
      decoder.feed(std::string_view(body).substr(at, run), sink);
    decoder.finish(sink);
    return sink.text;
  };
  const std::string expected = whole(clean, true);
  for (const std::size_t run : {std::size_t{4093}, DECODE_BLOCK + 5}) {
    EXPECT_TRUE(decode(clean, run, Base64Input::rfc2045) == expected);
    EXPECT_TRUE(decode(strays, run, Base64Input::rfc2045) == expected);
    EXPECT_EQ(decode(padded, run, Base64Input::rfc2045), "abcd");
  }
}

// One stray byte, or the padding that ends the data, at each place of a
// clean run of characters, on either side of each 64-character stretch the
// stray search looks at whole: the bytes before it are all kept.
TEST_P(StreamDecoderTest, Rfc2045StrayAtEachPlaceOfAStretch) {
  std::mt19937 rng(64);
  const std::string data = test_support::pseudo_random_bytes(300, rng());
  const std::string clean = test_support::reference_base64(data);
  const auto decode = [&](const std::string& body) {
    StreamDecoder decoder(&rfc2045(), GetParam(), Base64Input::rfc2045);
    StringSink sink;
    decoder.feed(body, sink);
    decoder.finish(sink);
    return sink.text;
  };
  for (std::size_t at = 0; at <= clean.size(); ++at) {
    SCOPED_TRACE(at);
    std::string stray = clean;
    stray.insert(at, 1, " \t!*\x80"[at % 5]);
    EXPECT_EQ(decode(stray), data);
    if (at % 4 == 0) {
      // "QQ==" ends the data: what follows it is not decoded.
      const std::string padded =
          clean.substr(0, at) + "QQ==" + clean.substr(at);
      EXPECT_EQ(decode(padded), data.substr(0, at / 4 * 3) + "A");
    }
  }
}

TEST(CountingSink, CountsWhatWouldBeWritten) {
  const std::string body = "QUJD\r\nREVG\r\nRw==\r\n";  // "ABCDEFG"
  StreamDecoder decoder(&rfc2045());
  CountingSink sink;
  decoder.feed(body, sink);
  decoder.finish(sink);
  EXPECT_EQ(sink.count(), 7u);
}

}  // namespace

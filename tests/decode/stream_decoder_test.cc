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

TEST(CountingSink, CountsWhatWouldBeWritten) {
  const std::string body = "QUJD\r\nREVG\r\nRw==\r\n";  // "ABCDEFG"
  StreamDecoder decoder(&rfc2045());
  CountingSink sink;
  decoder.feed(body, sink);
  decoder.finish(sink);
  EXPECT_EQ(sink.count(), 7u);
}

}  // namespace

#include "base64_encoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class StringSink final : public DecodeSink {
 public:
  void put(const char* bytes, std::size_t count) override {
    text.append(bytes, count);
    ++puts;
  }
  std::string text;
  int puts = 0;
};

std::string encoded(const std::string& input, std::size_t run) {
  StringSink out;
  Base64EncodingSink encoder(out);
  for (std::size_t at = 0; at < input.size(); at += run)
    encoder.put(input.data() + at, std::min(run, input.size() - at));
  encoder.finish();
  EXPECT_EQ(encoder.taken(), input.size());
  return out.text;
}

}  // namespace

// RFC 4648's vectors, fed in runs of every size: a group split across runs
// encodes as a whole one.
TEST(Base64EncodingSink, EncodesInRunsOfAnySize) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\0\xff\xfe", 3), "AP/+"},
  };
  for (const auto& [input, output] : vectors)
    for (std::size_t run = 1; run <= 7; ++run) {
      SCOPED_TRACE(input + " in runs of " + std::to_string(run));
      EXPECT_EQ(encoded(input, run), output);
    }
}

// Output leaves in blocks, not one put per group, and nothing is lost
// where a block ends.
TEST(Base64EncodingSink, LargeInputLeavesInBlocks) {
  std::string input;
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    input += "foo";
    expected += "Zm9v";
  }
  input += "f";
  expected += "Zg==";
  StringSink out;
  Base64EncodingSink encoder(out);
  encoder.put(input.data(), 5);
  encoder.put(input.data() + 5, input.size() - 5);
  encoder.finish();
  EXPECT_EQ(out.text, expected);
  EXPECT_LT(out.puts, 10);
}

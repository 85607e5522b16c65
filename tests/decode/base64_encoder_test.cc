#include "base64_encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "test_support.h"

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

std::string encoded(const std::string& input, std::size_t run,
                    VectorLevel level = VectorLevel::scalar) {
  StringSink out;
  Base64EncodingSink encoder(out, level);
  for (std::size_t at = 0; at < input.size(); at += run)
    encoder.put(input.data() + at, std::min(run, input.size() - at));
  encoder.finish();
  EXPECT_EQ(encoder.taken(), input.size());
  return out.text;
}

// RFC 4648 bit by bit: six bits at a time off the front of the input.
std::string reference(const std::string& input) {
  static constexpr char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::uint32_t bits = 0;
  int held = 0;
  for (const char c : input) {
    bits = (bits << 8) | static_cast<unsigned char>(c);
    held += 8;
    while (held >= 6) {
      held -= 6;
      out += alphabet[(bits >> held) & 63];
    }
  }
  if (held > 0) out += alphabet[(bits << (6 - held)) & 63];
  while (out.size() % 4 != 0) out += '=';
  return out;
}

std::string random_bytes(std::mt19937& rng, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
  return bytes;
}

class Base64EncoderLevels : public test_support::EachVectorLevel {};
INSTANTIATE_TEST_SUITE_P(Levels, Base64EncoderLevels,
                         test_support::ALL_VECTOR_LEVELS,
                         test_support::level_name);

}  // namespace

// Each level against the reference: every size up to 300 (each tail of the
// vector blocks) and a large input, in runs that split groups and blocks.
TEST_P(Base64EncoderLevels, MatchesTheReferenceInRunsOfAnySize) {
  std::mt19937 rng(2045);
  std::vector<std::string> inputs;
  for (std::size_t size = 0; size <= 300; ++size)
    inputs.push_back(random_bytes(rng, size));
  inputs.push_back(random_bytes(rng, 200001));
  // Every byte value in every place of a group.
  std::string all;
  for (int i = 0; i < 3 * 256; ++i) all += static_cast<char>(i / 3);
  inputs.push_back(all);
  for (const std::string& input : inputs)
    for (const std::size_t run :
         {std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{1000},
          input.size() + 1}) {
      SCOPED_TRACE(std::to_string(input.size()) + " bytes in runs of " +
                   std::to_string(run));
      ASSERT_EQ(encoded(input, run, GetParam()), reference(input));
    }
}

// The vector paths read and write only the groups asked for: input at the
// very end of its buffer, output bytes past the groups untouched.
TEST_P(Base64EncoderLevels, GroupsStayWithinTheirBytes) {
  std::mt19937 rng(76);
  for (std::size_t groups = 0; groups <= 40; ++groups) {
    const std::string text = random_bytes(rng, 3 * groups);
    const std::vector<unsigned char> input(text.begin(), text.end());
    std::string out(4 * groups + 64, '#');
    encode_base64_groups_at(GetParam(), input.data(), groups, out.data());
    EXPECT_EQ(out.substr(0, 4 * groups), reference(text));
    EXPECT_EQ(out.substr(4 * groups), std::string(64, '#'));
  }
}

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

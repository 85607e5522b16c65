// The vector base64 paths against the table-driven reference: the same
// bytes for every input, including bytes outside the alphabet anywhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base64_decoder.h"
#include "base64_table.h"
#include "part_decoder.h"
#include "test_support.h"
#include "vector_level.h"

namespace {

class Base64Simd : public test_support::EachVectorLevel {};
INSTANTIATE_TEST_SUITE_P(Levels, Base64Simd, test_support::ALL_VECTOR_LEVELS,
                         test_support::level_name);

constexpr std::string_view RFC_ALPHABET = RFC2045_ALPHABET;

Base64table table_of(std::string_view alphabet) {
  return base64table_of(alphabet);
}

std::string permuted_alphabet() {
  std::string alphabet(RFC_ALPHABET);
  std::mt19937 rng(7);
  std::shuffle(alphabet.begin(), alphabet.end(), rng);
  return alphabet;
}

// Alphabet characters, with `odd` of every 1000 drawn from bytes that are
// not in the RFC alphabet ("=", line ends, NUL, high bytes, ...).
std::string random_text(std::mt19937& rng, std::size_t length,
                        std::string_view alphabet, int odd) {
  static constexpr std::string_view outside =
      "=\r\n\t -_.\0\x80\xff\xaf\xc3\x7f\x3a\x40\x5b\x60\x7b";
  std::string text(length, '\0');
  std::uniform_int_distribution<int> per_mille(0, 999);
  for (char& c : text) {
    if (per_mille(rng) < odd)
      c = (rng() & 1) ? outside[rng() % outside.size()]
                      : static_cast<char>(rng() & 0xFF);
    else
      c = alphabet[rng() % alphabet.size()];
  }
  return text;
}

// Decodes the whole groups of `text` at `level` and by the reference.
void expect_same_groups(const Base64Decoder& decoder, VectorLevel level,
                        const std::string& text) {
  const std::size_t groups = text.size() / 4;
  std::vector<unsigned char> fast(3 * groups + 1, 0xAA);
  std::vector<unsigned char> reference(3 * groups + 1, 0xAA);
  decode_base64_groups_at(level, decoder, text.data(), groups, fast.data());
  decode_base64_groups_scalar(decoder, text.data(), groups, reference.data());
  fast.resize(3 * groups);
  reference.resize(3 * groups);
  ASSERT_EQ(fast, reference) << "length " << text.size();
}

struct TableCase {
  const char* name;
  std::string alphabet;
};

TEST_P(Base64Simd, EveryLengthAndTableMatchesTheReference) {
  const TableCase tables[] = {{"rfc2045", std::string(RFC_ALPHABET)},
                              {"permuted", permuted_alphabet()}};
  std::mt19937 rng(2045);
  for (const TableCase& t : tables) {
    const Base64Decoder decoder(table_of(t.alphabet));
    const VectorLevel level = GetParam();
    SCOPED_TRACE(t.name);
    for (std::size_t length = 0; length <= 400; ++length)
      for (int odd : {0, 3, 50, 500}) {
        expect_same_groups(decoder, level,
                           random_text(rng, length, t.alphabet, odd));
        if (HasFatalFailure()) return;
      }
  }
}

TEST_P(Base64Simd, LargeInputsMatchTheReference) {
  std::mt19937 rng(4648);
  const Base64Decoder decoder(table_of(RFC_ALPHABET));
  const VectorLevel level = GetParam();
  for (int odd : {0, 1, 100}) {
    SCOPED_TRACE(odd);
    expect_same_groups(decoder, level,
                       random_text(rng, DECODE_BLOCK + 13, RFC_ALPHABET, odd));
  }
}

TEST(Base64Dispatch, OnlyTheExactRfcTableTakesTheVectorPath) {
  // One entry more than RFC 2045: "-" and "=" have values of their own,
  // which only the table-driven path knows about.
  Base64table table = table_of(RFC_ALPHABET);
  table.entries['-'] = 62;
  table.entries['='] = 5;
  const Base64Decoder decoder(table);
  EXPECT_FALSE(decoder.rfc2045);
  EXPECT_TRUE(Base64Decoder(table_of(RFC_ALPHABET)).rfc2045);
  std::mt19937 rng(11);
  const std::string text = random_text(rng, 4096, "AZaz09+/-=", 0);
  const std::size_t groups = text.size() / 4;
  std::vector<unsigned char> out(3 * groups + 1);
  std::vector<unsigned char> reference(3 * groups + 1);
  decode_base64_groups(decoder, text.data(), groups, out.data());
  decode_base64_groups_scalar(decoder, text.data(), groups, reference.data());
  EXPECT_EQ(out, reference);
}

TEST(Base64Dispatch, WholeBodiesGiveBackWhatWasEncoded) {
  std::mt19937 rng(3);
  const Base64Decoder decoder(table_of(RFC_ALPHABET));
  for (std::size_t length = 0; length <= 300; ++length) {
    std::string bytes(length, '\0');
    for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
    ASSERT_EQ(test_support::decode_base64_whole(
                  decoder, test_support::reference_base64(bytes)),
              bytes)
        << length;
  }
}

}  // namespace

#include "base64_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using test_support::decode_base64_whole;
using test_support::reference_base64;
using test_support::rfc2045_table;

struct DecodeCase {
  std::string body;
  std::string bytes;
};

const DecodeCase RFC_CASES[] = {
    // RFC 4648, section 10.
    {"", ""},
    {"Zg==", "f"},
    {"Zm8=", "fo"},
    {"Zm9v", "foo"},
    {"Zm9vYg==", "foob"},
    {"Zm9vYmE=", "fooba"},
    {"Zm9vYmFy", "foobar"},
    // The final group gives its whole bytes only: k characters, k-1 bytes.
    {"QQ==", "A"},
    {"QUI=", "AB"},
    {"QUJD", "ABC"},
    {"QUJDRA", "ABCD"},
    {"QUJDREU", "ABCDE"},
    {"QUJDREU=", "ABCDE"},
    {"QQ", "A"},
    {"QQ=", "A"},
    // A single character left over makes no byte.
    {"Q", ""},
    {"QUJDR", "ABC"},
    {"QUJDR===", "ABC"},
    {"=", ""},
    {"====", ""},
    // Only the last group is final: an earlier "====" is three zero bytes.
    {"========", std::string(3, '\0')},
    // Padding inside the body is an ordinary character of value 0.
    {"QQ==QUI=", std::string("A\0\0AB", 5)},
    // So is any character the table does not hold.
    {"Q!==", "@"},
    {"AAAA", std::string(3, '\0')},
    {"////", "\xff\xff\xff"},
    {"+/+/", "\xfb\xff\xbf"},
    // Python: base64.b64encode(b"\x00\x10\x83\x10\x51\x87")
    {"ABCDEFGH", std::string("\x00\x10\x83\x10\x51\x87", 6)},
};

class Base64DecoderTest : public testing::Test {
 protected:
  const Base64table table_ = rfc2045_table();
  const Base64Decoder decoder_{table_};
};

TEST_F(Base64DecoderTest, RfcVectorsAndTheFinalGroup) {
  EXPECT_TRUE(decoder_.rfc2045);
  for (const DecodeCase& c : RFC_CASES)
    EXPECT_EQ(decode_base64_whole(decoder_, c.body), c.bytes) << c.body;
}

TEST_F(Base64DecoderTest, EveryByteValue) {
  // Python: base64.b64encode(bytes(range(256)))
  const std::string encoded =
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMz"
      "Q1Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdo"
      "aWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ"
      "2en6ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR"
      "0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==";
  std::string all(256, '\0');
  for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
  EXPECT_TRUE(decode_base64_whole(decoder_, encoded) == all);
}

// Bodies of every length modulo 3, padded and not.
TEST_F(Base64DecoderTest, RoundTripsAgainstAReferenceEncoder) {
  for (std::size_t size = 0; size < 70; ++size) {
    const std::string data =
        test_support::pseudo_random_bytes(size, static_cast<unsigned>(size));
    EXPECT_TRUE(decode_base64_whole(decoder_, reference_base64(data, true)) ==
                data)
        << size;
    EXPECT_TRUE(decode_base64_whole(decoder_, reference_base64(data, false)) ==
                data)
        << size;
  }
}

// Any faster path must write what the table-driven one writes.
TEST_F(Base64DecoderTest, GroupDecodingMatchesTheScalarReference) {
  for (const std::size_t groups : {1u, 2u, 7u, 8u, 15u, 16u, 33u, 1000u}) {
    std::string in = test_support::pseudo_random_bytes(groups * 4, 77);
    for (char& c : in) c = RFC2045_ALPHABET[static_cast<unsigned char>(c) % 64];
    std::vector<unsigned char> fast(groups * 3 + 1), scalar(groups * 3 + 1);
    decode_base64_groups(decoder_, in.data(), groups, fast.data());
    decode_base64_groups_scalar(decoder_, in.data(), groups, scalar.data());
    fast.pop_back();
    scalar.pop_back();
    EXPECT_EQ(fast, scalar) << groups;
  }
}

// With an alphabet other than RFC 2045 the table alone decides.
TEST(Base64CustomTableTest, EntriesWithArithmeticShifts) {
  Base64table table;
  table.entries['x'] = 129;  // -127 as a signed 8-bit value
  table.entries['m'] = 128;  // -128
  table.entries['d'] = 100;  // more than 6 bits, not masked
  table.entries['Q'] = 16;
  const Base64Decoder decoder(table);
  EXPECT_FALSE(decoder.rfc2045);
  const DecodeCase cases[] = {
      {"xAAA", std::string("\x04\x00\x00", 3)},
      {"AxAA", std::string("\xf8\x10\x00", 3)},
      {"AAxA", std::string("\x00\xe0\x40", 3)},
      {"AAAx", std::string("\x00\x00\x81", 3)},
      {"QxAA", std::string("\xf8\x10\x00", 3)},
      {"AmAA", std::string("\xf8\x00\x00", 3)},
      {"AAmm", std::string("\x00\xe0\x80", 3)},
      {"dAAA", std::string("\x90\x00\x00", 3)},
      {"AdAA", std::string("\x06\x40\x00", 3)},
      // The same rules in a final group: "AxA" gives two bytes.
      {"QQQQAxA", std::string("\x41\x04\x10\xf8\x10", 5)},
      // Unknown characters, the letter A and "=" all count as 0 here.
      {"A=?A", std::string(3, '\0')},
  };
  for (const DecodeCase& c : cases)
    EXPECT_EQ(decode_base64_whole(decoder, c.body), c.bytes) << c.body;
}

}  // namespace

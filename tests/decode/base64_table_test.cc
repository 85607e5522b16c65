#include "base64_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "part_decoder.h"
#include "test_support.h"

namespace {

using test_support::Outcome;
using test_support::run_captured;
using test_support::ScopedTempDir;
using test_support::ThrowOnFatal;
using test_support::write_file;

using Entries = std::vector<std::pair<unsigned char, std::uint8_t>>;

struct ConfCase {
  const char* name;
  std::string conf;
  std::string echo;  // what parsing prints
  Entries entries;   // every entry that ends up non-zero
};

std::string echo(char c, const std::string& value) {
  return std::string("Base64table [") + c + "]  = " + value + "\n";
}

const ConfCase CONF_CASES[] = {
    {"empty file", "", "", {}},
    {"one entry", "26 a\n", echo('a', "26"), {{'a', 26}}},
    {"last line without LF",
     "1 B\n2 C",
     echo('B', "1") + echo('C', "2"),
     {{'B', 1}, {'C', 2}}},
    {"value 0 and comments are skipped", "0 A\n# 5 x\n 7 y\nx 9 z\n\n", "", {}},
    {"leading zeros", "007 q\n", echo('q', "7"), {{'q', 7}}},
    {"value 300 stores 44", "300 x\n", echo('x', "300"), {{'x', 44}}},
    {"value 256 stores 0 but echoes", "256 x\n", echo('x', "256"), {}},
    {"value past 2^32 wraps", "4294967301 q\n", echo('q', "5"), {{'q', 5}}},
    {"value wrapping to 0 is skipped", "4294967296 q\n", "", {}},
    {"value past 2^31 prints negative",
     "2147483649 q\n",
     echo('q', "-2147483647"),
     {{'q', 1}}},
    {"separator is any byte", "26ab\n", echo('b', "26"), {{'b', 26}}},
    {"separator may be a digit's neighbour",
     "12:3\n",
     echo('3', "12"),
     {{'3', 12}}},
    {"rest of the line is ignored", "5 xyz\n", echo('x', "5"), {{'x', 5}}},
    {"LF as separator sets entry 0", "26\n", echo('\0', "26"), {{0, 26}}},
    {"CR as separator sets the entry of LF",
     "26\r\n",
     echo('\n', "26"),
     {{'\n', 26}}},
    {"CR LF file",
     "1 B\r\n2 C\r\n",
     echo('B', "1") + echo('C', "2"),
     {{'B', 1}, {'C', 2}}},
    {"NUL ends the line's text",
     std::string("26 \0x\n", 6),
     echo('\0', "26"),
     {{0, 26}}},
    {"NUL at the start skips the line",
     std::string("\0"
                 "5 x\n",
                 5),
     "",
     {}},
    {"blank as the character", "9  \n", echo(' ', "9"), {{' ', 9}}},
    {"8-bit character", "9 \xe9\n", echo('\xe9', "9"), {{0xe9, 9}}},
    {"later line wins",
     "1 B\n2 B\n",
     echo('B', "1") + echo('B', "2"),
     {{'B', 2}}},
    // Lines longer than 255 bytes are read as several lines.
    {"255 bytes then a line",
     std::string(255, '#') + "12 Z\n",
     echo('Z', "12"),
     {{'Z', 12}}},
    {"254 bytes then a line",
     std::string(254, '#') + "12 Z\n",
     echo('Z', "2"),
     {{'Z', 2}}},
    {"254 bytes and LF end the line",
     std::string(254, '#') + "\n12 Z\n",
     echo('Z', "12"),
     {{'Z', 12}}},
    {"a long entry line",
     "3 D" + std::string(252, 'x') + "4 E\n",
     echo('D', "3") + echo('E', "4"),
     {{'D', 3}, {'E', 4}}},
};

class Base64ConfTest : public testing::Test {
 protected:
  ThrowOnFatal fatal_;
};

TEST_F(Base64ConfTest, ParsesEveryLineForm) {
  for (const ConfCase& c : CONF_CASES) {
    SCOPED_TRACE(c.name);
    Base64table table;
    const Outcome outcome =
        run_captured([&] { parse_base64conf(c.conf, table); });
    EXPECT_FALSE(outcome.fatal.has_value());
    EXPECT_EQ(outcome.out, c.echo);
    Base64table expected;
    for (const auto& [character, value] : c.entries)
      expected.entries[character] = value;
    EXPECT_EQ(table.entries, expected.entries);
  }
}

struct BadConfCase {
  const char* name;
  std::string conf;
  std::string radek;  // the line as the message shows it
  std::size_t position, length;
};

const BadConfCase BAD_CONF_CASES[] = {
    {"digits at the end of the file", "1 B\n26", "26", 3, 2},
    {"one digit", "7", "7", 2, 1},
    {"NUL after the digits", std::string("26\0 x\n", 6), "26", 3, 2},
    {"digits cut by the 255-byte read", std::string(255, '#') + "26", "26", 3,
     2},
    {"255 digits", std::string(255, '1') + "\n", std::string(255, '1'), 256,
     255},
};

TEST_F(Base64ConfTest, LineEndingAfterItsDigitsIsFatal) {
  for (const BadConfCase& c : BAD_CONF_CASES) {
    SCOPED_TRACE(c.name);
    Base64table table;
    const Outcome outcome =
        run_captured([&] { parse_base64conf(c.conf, table); });
    ASSERT_TRUE(outcome.fatal.has_value());
    EXPECT_EQ(outcome.fatal->status, STATUS_BAD_FORMAT);
    EXPECT_EQ(outcome.fatal->message,
              "Chyba. Soubor [base64.conf] ma chybny format. \nRadek: " +
                  c.radek + "; i = " + std::to_string(c.position) +
                  " strlen: " + std::to_string(c.length) + "\n");
  }
}

TEST_F(Base64ConfTest, EntriesBeforeABadLineStay) {
  Base64table table;
  const Outcome outcome =
      run_captured([&] { parse_base64conf("1 B\n26", table); });
  ASSERT_TRUE(outcome.fatal.has_value());
  EXPECT_EQ(outcome.out, echo('B', "1"));
  EXPECT_EQ(table.entries['B'], 1);
}

TEST_F(Base64ConfTest, RecognisesTheRfc2045Alphabet) {
  Base64table table;
  run_captured([&] { parse_base64conf(test_support::rfc2045_conf(), table); });
  EXPECT_TRUE(is_rfc2045_table(table));
  Base64table extra = table;
  extra.entries['='] = 1;
  EXPECT_FALSE(is_rfc2045_table(extra));
  Base64table changed = table;
  changed.entries['/'] = 62;
  EXPECT_FALSE(is_rfc2045_table(changed));
  EXPECT_FALSE(is_rfc2045_table(Base64table{}));
}

}  // namespace

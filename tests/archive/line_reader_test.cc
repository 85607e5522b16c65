#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "archive_reader.h"
#include "test_support.h"

namespace {

using test_support::run_captured;
using test_support::ScopedTempDir;
using test_support::ThrowOnFatal;
using test_support::write_file;

class LineReaderTest : public testing::Test {
 protected:
  // A reader over `bytes` with no header parsed: read_line sees every byte.
  ArchiveReader& open(const std::string& bytes) {
    write_file("archive.mht", bytes);
    reader_.path = "archive.mht";
    reader_.file = ::open("archive.mht", O_RDONLY);
    EXPECT_GE(reader_.file, 0);
    return reader_;
  }

  std::vector<std::string> all_lines() {
    std::vector<std::string> lines;
    while (const auto line = read_line(reader_)) lines.emplace_back(*line);
    return lines;
  }

  ScopedTempDir dir_;
  ThrowOnFatal fatal_;
  ArchiveReader reader_;
};

TEST_F(LineReaderTest, EmptyFileHasNoLine) {
  open("");
  EXPECT_TRUE(at_end(reader_));
  EXPECT_FALSE(read_line(reader_).has_value());
  EXPECT_FALSE(read_line(reader_).has_value());
}

TEST_F(LineReaderTest, KeepsCrAndNulBytes) {
  const std::string first("a\0b\r\n", 5);
  const std::string second("\0\0\n", 3);
  const std::string last("x\0\ry", 4);
  open(first + second + last);
  EXPECT_EQ(all_lines(), (std::vector<std::string>{first, second, last}));
}

TEST_F(LineReaderTest, EmptyLinesAreLines) {
  open("\n\r\n\n");
  EXPECT_EQ(all_lines(), (std::vector<std::string>{"\n", "\r\n", "\n"}));
}

TEST_F(LineReaderTest, AtEndOnlyAfterTheLastByte) {
  open("one\ntwo");
  EXPECT_FALSE(at_end(reader_));
  EXPECT_EQ(*read_line(reader_), "one\n");
  EXPECT_FALSE(at_end(reader_));
  EXPECT_EQ(*read_line(reader_), "two");
  EXPECT_TRUE(at_end(reader_));
}

// Line lengths around the classic 255-byte read and the 1 MiB block: no
// joining at multiples of 255, no loss of a last line without LF.
class LineLengthTest : public LineReaderTest,
                       public testing::WithParamInterface<std::size_t> {};

// A line of `length` bytes before its LF, of varied bytes but without LF.
std::string line_body(std::size_t length, unsigned seed) {
  std::string text = test_support::pseudo_random_bytes(length, seed);
  for (char& c : text)
    if (c == '\n') c = 'n';
  return text;
}

TEST_P(LineLengthTest, LineWithLfFollowedByAnother) {
  const std::string first = line_body(GetParam() - 1, 1) + "\n";
  const std::string second = "next line\r\n";
  open(first + second);
  const std::vector<std::string> lines = all_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], first);
  EXPECT_EQ(lines[1], second);
}

TEST_P(LineLengthTest, LastLineWithoutLf) {
  const std::string first = "first\n";
  const std::string last = line_body(GetParam(), 2);
  open(first + last);
  const std::vector<std::string> lines = all_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], first);
  EXPECT_EQ(lines[1], last);
}

TEST_P(LineLengthTest, LastLineWithLf) {
  const std::string only = line_body(GetParam() - 1, 3) + "\n";
  open(only);
  EXPECT_EQ(all_lines(), std::vector<std::string>{only});
}

INSTANTIATE_TEST_SUITE_P(Lengths, LineLengthTest,
                         testing::Values(1, 2, 254, 255, 256, 257, 509, 510,
                                         511, 512, 765, READ_BLOCK / 2,
                                         READ_BLOCK - 1, READ_BLOCK,
                                         HEADER_LINE_LIMIT));

// A line one byte over the limit ends the run with the message, whether its
// end is an LF, a CR LF or the archive's end; one at the limit is read.
TEST_F(LineReaderTest, HeaderLinesOverTheLimitAreFatal) {
  const std::string message =
      "Chyba. Soubor archive.mht ma radek hlavicky "
      "delsi nez 1048576 bajtu.\n";
  struct Case {
    std::string line;
    bool fatal;
  };
  const std::size_t limit = HEADER_LINE_LIMIT;
  const Case cases[] = {
      {line_body(limit - 1, 5) + "\n", false},
      {line_body(limit - 2, 5) + "\r\n", false},
      {line_body(limit, 5), false},
      {line_body(limit, 5) + "\n", true},
      {line_body(limit - 1, 5) + "\r\n", true},
      {line_body(limit + 1, 5), true},
      {line_body(4 * limit, 5) + "\n", true},
  };
  for (const Case& c : cases) {
    const bool ended = c.line.back() == '\n';
    open("first\n" + c.line + (ended ? "after\n" : ""));
    reader_.block.reserve_more(READ_BLOCK);
    std::vector<std::string> lines;
    const test_support::Outcome outcome =
        run_captured([&] { lines = all_lines(); });
    ::close(std::exchange(reader_.file, -1));
    reader_.block.clear();
    reader_.begin = 0;
    reader_.at_eof = false;
    EXPECT_EQ(outcome.fatal.has_value(), c.fatal) << c.line.size();
    if (c.fatal && outcome.fatal) {
      EXPECT_EQ(outcome.fatal->message, message);
      EXPECT_EQ(outcome.fatal->status, STATUS_BAD_FORMAT);
      // The block never held more than the limit and a block beside it.
      EXPECT_LE(reader_.block.capacity(), HEADER_LINE_LIMIT + 2 * READ_BLOCK);
    } else if (!c.fatal) {
      EXPECT_EQ(lines.size(), ended ? 3U : 2U);
    }
  }
}

// Many lines of changing length, so that line ends fall on every kind of
// position relative to the block refills.
TEST_F(LineReaderTest, LinesAcrossSeveralBlocks) {
  std::vector<std::string> expected;
  std::string archive;
  unsigned length = 7;
  while (archive.size() < 3 * READ_BLOCK + 1000) {
    length = (length * 37 + 11) % 1300;
    std::string line = line_body(length, length) + (length % 3 ? "\n" : "\r\n");
    archive += line;
    expected.push_back(std::move(line));
  }
  // One line longer than the block in the middle of it all.
  const std::string giant = line_body(HEADER_LINE_LIMIT - 1, 9) + "\n";
  archive += giant;
  expected.push_back(giant);
  archive += "tail";
  expected.emplace_back("tail");
  open(archive);
  const std::vector<std::string> lines = all_lines();
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i)
    ASSERT_EQ(lines[i], expected[i]) << "line " << i;
}

}  // namespace

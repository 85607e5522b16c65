#include <gtest/gtest.h>

#include <string>

#include "archive_reader.h"
#include "line_ends.h"
#include "test_support.h"

namespace {

using test_support::Outcome;
using test_support::run_captured;
using test_support::ScopedTempDir;
using test_support::ThrowOnFatal;
using test_support::write_file;

const std::string HEADER =
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/related; boundary=\"----=_Part_7\"\r\n"
    "\r\n";
const std::string SEPARATOR = "------=_Part_7\r\n";
const std::string CLOSE = "------=_Part_7--\r\n";
// 29 characters come before the path.
const std::string PREFIX = "Content-Location: file:///C:/";

std::string part(const std::string& name, const std::string& encoding,
                 const std::string& body) {
  return PREFIX + name + "\r\nContent-Transfer-Encoding: " + encoding +
         "\r\nContent-Type: text/plain\r\n\r\n" + body;
}

struct ReadPart {
  bool present = false;
  std::string body;
  int is_base64 = -1;
  std::string name;
  std::string dir;
};

class PartReaderTest : public testing::Test {
 protected:
  // Opens `archive` (written after the header) and stands on its first part.
  void open(const std::string& parts) { open_raw(HEADER + SEPARATOR + parts); }

  void open_raw(const std::string& archive) {
    write_file("a.mht", archive);
    reader_.reset();
    reader_.emplace(open_archive("a.mht"));
    ASSERT_TRUE(skip_to_first_boundary(*reader_));
  }

  ReadPart next() {
    ReadPart result;
    ArchiveReader& reader = *reader_;
    std::optional<PartBody> part = read_part(reader);
    if (!part) {
      EXPECT_FALSE(reader.part_name.has_value());
      return result;
    }
    result.present = true;
    result.is_base64 = (part->encoding == Encoding::base64 ? 1 : 0);
    // The body as the decoders get it; base64 without its line ends.
    std::string raw;
    for (std::string_view run = read_body(reader); !run.empty();
         run = read_body(reader))
      raw.append(run);
    result.body.resize(raw.size());
    result.body.resize((part->encoding == Encoding::base64 ? 1 : 0) != 0
                           ? copy_without_line_ends(raw, result.body.data())
                           : raw.size());
    if ((part->encoding == Encoding::base64 ? 1 : 0) == 0) result.body = raw;
    EXPECT_TRUE(reader.part_name && reader.part_dir);
    if (reader.part_name) result.name = *reader.part_name;
    if (reader.part_dir) result.dir = *reader.part_dir;
    return result;
  }

  ScopedTempDir dir_;
  ThrowOnFatal fatal_;
  std::optional<ArchiveReader> reader_;
};

TEST_F(PartReaderTest, Base64LineEndsAreCut) {
  open(part("a.png", "base64", "QUJD\r\nREVG\nR0g=\r\n") + CLOSE);
  const ReadPart p = next();
  ASSERT_TRUE(p.present);
  EXPECT_EQ(p.is_base64, 1);
  EXPECT_EQ(p.body, "QUJDREVGR0g=");
  EXPECT_FALSE(next().present);
}

TEST_F(PartReaderTest, QuotedPrintableBodyIsKeptAsIs) {
  const std::string body = "a=\r\nb=3D\r\n\r\nlast\n\0x\r\n";
  open(part("p.htm", "quoted-printable", body) + SEPARATOR);
  const ReadPart p = next();
  ASSERT_TRUE(p.present);
  EXPECT_EQ(p.is_base64, 0);
  EXPECT_EQ(p.body, body);
}

TEST_F(PartReaderTest, EncodingLineDecidesBase64WithCase) {
  const struct {
    const char* encoding;
    int is_base64;
  } cases[] = {{"base64", 1}, {"x-base64-y", 1},       {"BASE64", 0},
               {"Base64", 0}, {"quoted-printable", 0}, {"", 0}};
  std::string parts;
  for (const auto& c : cases) parts += part("f", c.encoding, "") + SEPARATOR;
  open(parts + CLOSE);
  for (const auto& c : cases) {
    const ReadPart p = next();
    ASSERT_TRUE(p.present) << c.encoding;
    EXPECT_EQ(p.is_base64, c.is_base64) << c.encoding;
  }
}

TEST_F(PartReaderTest, NameAndDirectoryFromTheLocationLine) {
  const struct {
    std::string name, dir;
  } cases[] = {{"page_files/image001.png", "page_files"},
               {"a/b/c.txt", "a/b"},
               {"page.htm", ""},
               {"x", ""},
               {"my files/a b&c.txt", "my files"},
               {"dir/", "dir"},
               {"a\\b.txt", ""}};
  std::string parts;
  for (const auto& c : cases) parts += part(c.name, "base64", "") + SEPARATOR;
  open(parts + CLOSE);
  for (const auto& c : cases) {
    const ReadPart p = next();
    ASSERT_TRUE(p.present) << c.name;
    EXPECT_EQ(p.name, c.name);
    EXPECT_EQ(p.dir, c.dir);
  }
}

TEST_F(PartReaderTest, EmptyBodiesAreEmptyPartsNotTheEnd) {
  open(part("empty.txt", "quoted-printable", "") + SEPARATOR +
       part("blank.bin", "base64", "\r\n\n\r\n") + SEPARATOR +
       part("after.txt", "quoted-printable", "x\r\n") + CLOSE);
  const ReadPart empty = next();
  ASSERT_TRUE(empty.present);
  EXPECT_EQ(empty.name, "empty.txt");
  EXPECT_EQ(empty.body, "");
  const ReadPart blank = next();
  ASSERT_TRUE(blank.present);
  EXPECT_EQ(blank.body, "");
  const ReadPart after = next();
  ASSERT_TRUE(after.present);
  EXPECT_EQ(after.body, "x\r\n");
  EXPECT_FALSE(next().present);
}

TEST_F(PartReaderTest, NothingAfterTheCloseDelimiterIsAPart) {
  open(part("one.txt", "quoted-printable", "1\r\n") + CLOSE +
       part("epilogue.txt", "quoted-printable", "no\r\n") + SEPARATOR +
       part("more.txt", "quoted-printable", "no\r\n"));
  EXPECT_TRUE(next().present);
  EXPECT_TRUE(reader_->closed);
  EXPECT_FALSE(next().present);
  EXPECT_FALSE(next().present);
}

TEST_F(PartReaderTest, LineHoldingTheBoundaryAnywhereEndsTheBody) {
  open(
      part("a.txt", "quoted-printable", "one\r\ntext ------=_Part_7 text\r\n") +
      "two\r\n");
  const ReadPart p = next();
  ASSERT_TRUE(p.present);
  EXPECT_EQ(p.body, "one\r\n");
}

TEST_F(PartReaderTest, PartCutOffInTheBodyKeepsWhatItHas) {
  open(part("a.txt", "quoted-printable", "one\r\ntwo"));
  const ReadPart p = next();
  ASSERT_TRUE(p.present);
  EXPECT_EQ(p.body, "one\r\ntwo");
  EXPECT_FALSE(next().present);
}

TEST_F(PartReaderTest, PartCutOffAfterItsHeaderLinesIsAnEmptyPart) {
  const std::string cut_offs[] = {
      PREFIX + "a.txt\r\nContent-Transfer-Encoding: base64\r\n",
      PREFIX + "a.txt\r\nContent-Transfer-Encoding: base64",
      PREFIX + "a.txt\r\nContent-Transfer-Encoding: base64\r\nType\r\n",
      PREFIX + "a.txt\r\nContent-Transfer-Encoding: base64\r\nType\r\n\r\n"};
  for (const std::string& archive : cut_offs) {
    open(archive);
    const ReadPart p = next();
    ASSERT_TRUE(p.present) << archive;
    EXPECT_EQ(p.name, "a.txt");
    EXPECT_EQ(p.is_base64, 1);
    EXPECT_EQ(p.body, "");
    EXPECT_FALSE(next().present);
  }
}

TEST_F(PartReaderTest, LocationLineWithoutEncodingLineIsAFormatError) {
  open(PREFIX + "a.txt\r\n");
  const Outcome outcome = run_captured([&] { next(); });
  ASSERT_TRUE(outcome.fatal.has_value());
  EXPECT_EQ(outcome.fatal->status, STATUS_BAD_FORMAT);
  EXPECT_EQ(outcome.fatal->message,
            "Chyba. Soubor zrejme nema spravny format.\n");
}

// A location line of 29 characters or fewer holds no path.
TEST_F(PartReaderTest, ShortLocationLineAtTheEndEndsTheParts) {
  const std::string endings[] = {
      "\r\n",
      "\n",
      "\r\n\r\n",
      PREFIX + "\r\n",
      PREFIX,
      "short\r\nContent-Transfer-Encoding: base64\r\nType\r\n",
      "short\r\nContent-Transfer-Encoding: base64\r\nType\r\n\r\n",
  };
  for (const std::string& ending : endings) {
    open(part("a.txt", "quoted-printable", "x\r\n") + SEPARATOR + ending);
    EXPECT_TRUE(next().present);
    const Outcome outcome =
        run_captured([&] { EXPECT_FALSE(next().present) << ending; });
    EXPECT_FALSE(outcome.fatal.has_value()) << ending;
  }
}

TEST_F(PartReaderTest, ShortLocationLineWithABodyIsAFormatError) {
  const std::string bodies[] = {
      part("", "base64", "QUJD\r\n") + CLOSE,
      "\r\n\r\n\r\n\r\nbody\r\n",
      "x\r\ny\r\nz\r\nw\r\n\r\n",
  };
  for (const std::string& archive : bodies) {
    open(archive);
    const Outcome outcome = run_captured([&] { next(); });
    ASSERT_TRUE(outcome.fatal.has_value()) << archive;
    EXPECT_EQ(outcome.fatal->status, STATUS_BAD_FORMAT);
    EXPECT_EQ(outcome.fatal->message,
              "Chyba. Soubor zrejme nema spravny format.\n");
  }
}

TEST_F(PartReaderTest, OneCharacterAfterThePrefixIsAPath) {
  open(part("z", "quoted-printable", "x\r\n") + CLOSE);
  const ReadPart p = next();
  ASSERT_TRUE(p.present);
  EXPECT_EQ(p.name, "z");
}

// Bodies larger than the read block, with the boundary line placed at every
// kind of offset from the block's end.
class LargeBodyTest : public PartReaderTest,
                      public testing::WithParamInterface<int> {};

TEST_P(LargeBodyTest, BoundaryLineAcrossTheReadBlock) {
  const std::string head = HEADER + SEPARATOR + part("a.txt", "q", "");
  // The body fills the archive up to READ_BLOCK + offset, then the
  // separator starts.
  const std::size_t body_size =
      static_cast<std::size_t>(static_cast<long>(READ_BLOCK) + GetParam()) -
      head.size();
  std::string body;
  while (body.size() < body_size) {
    std::string line(body.size() % 170, 'q');
    line += "=3D\r\n";
    body += line;
  }
  body.resize(body_size - 2);
  body += "\r\n";
  open_raw(head + body + SEPARATOR + part("b.txt", "q", "second\r\n") + CLOSE);
  const ReadPart first = next();
  ASSERT_TRUE(first.present);
  EXPECT_EQ(first.body.size(), body.size());
  EXPECT_TRUE(first.body == body);
  const ReadPart second = next();
  ASSERT_TRUE(second.present);
  EXPECT_EQ(second.name, "b.txt");
  EXPECT_EQ(second.body, "second\r\n");
}

INSTANTIATE_TEST_SUITE_P(Offsets, LargeBodyTest,
                         testing::Values(-20, -14, -8, -3, -1, 0, 1, 7,
                                         static_cast<int>(READ_BLOCK / 2) + 3));

TEST_F(PartReaderTest, Base64BodyLongerThanTheBlockInOneLine) {
  const std::string data = test_support::pseudo_random_bytes(900000, 4);
  const std::string encoded = test_support::reference_base64(data);
  std::string wrapped;
  for (std::size_t i = 0; i < encoded.size(); i += 76)
    wrapped += encoded.substr(i, 76) + "\r\n";
  open(part("one.bin", "base64", encoded + "\r\n") + SEPARATOR +
       part("wrapped.bin", "base64", wrapped) + CLOSE);
  const ReadPart one = next();
  ASSERT_TRUE(one.present);
  EXPECT_TRUE(one.body == encoded);
  const ReadPart two = next();
  ASSERT_TRUE(two.present);
  EXPECT_TRUE(two.body == encoded);
}

}  // namespace

namespace {

// Body lines longer than half the read block: handed out in pieces without
// growing the block when they hold no boundary, passed over when they do.
// Each case runs on the regular file and as a stream that can't be read
// again, which holds the line whole as before.
class LongLineTest : public PartReaderTest,
                     public testing::WithParamInterface<bool> {};

TEST_P(LongLineTest, LongLinesAreBodyOnlyWithoutTheBoundary) {
  const std::string boundary = "------=_Part_7";
  struct Case {
    std::size_t length;  // of the long line, line end excluded
    std::size_t at;      // where the boundary stands in it (npos: nowhere)
    bool closes;         // "--" follows it
  };
  constexpr std::size_t none = std::string::npos;
  const std::size_t block = READ_BLOCK;
  const Case cases[] = {
      {block / 2, none, false},
      {block - 1, none, false},
      {block + 5, none, false},
      {3 * block + 17, none, false},
      {block + 5, 0, false},
      {block + 5, 0, true},
      {3 * block + 17, block + 100, false},
      {3 * block + 17, block - 7, true},
      {3 * block + 17, 3 * block + 17 - 16, true},
      {3 * block + 17, 3 * block + 17 - 15, false},
      {2 * block, 2 * block - 14, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " at " << c.at);
    std::string line = test_support::pseudo_random_bytes(c.length, 11);
    for (char& ch : line)
      if (ch == '\n' || ch == '-') ch = 'x';
    if (c.at != none)
      line.replace(c.at, boundary.size() + (c.closes ? 2 : 0),
                   boundary + (c.closes ? "--" : ""));
    const std::string before = "first line\r\n";
    const std::string rest = part("b.txt", "q", "second\r\n") + CLOSE;
    open(part("a.txt", "q", before + line + "\r\n") +
         (c.at == none ? SEPARATOR : "") + rest);
    reader_->seekable = GetParam();
    const ReadPart first = next();
    ASSERT_TRUE(first.present);
    EXPECT_TRUE(first.body == (c.at == none ? before + line + "\r\n" : before));
    const ReadPart second = next();
    EXPECT_EQ(second.present, !c.closes);
    if (second.present) {
      EXPECT_EQ(second.name, "b.txt");
    }
    if (GetParam()) {
      EXPECT_LE(reader_->block.capacity(), 2 * READ_BLOCK);
    }
  }
}

TEST_P(LongLineTest, LongLastLineWithoutLineEnd) {
  const std::string line(3 * READ_BLOCK + 1, 'Q');
  open(part("a.txt", "q", "x\r\n" + line));
  reader_->seekable = GetParam();
  const ReadPart first = next();
  ASSERT_TRUE(first.present);
  EXPECT_TRUE(first.body == "x\r\n" + line);
  EXPECT_FALSE(next().present);
}

INSTANTIATE_TEST_SUITE_P(RegularFileOrStream, LongLineTest, testing::Bool());

}  // namespace

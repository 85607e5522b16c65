#include "archive_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "progress.h"
#include "test_support.h"

namespace {

using test_support::Outcome;
using test_support::run_captured;
using test_support::ScopedTempDir;
using test_support::ThrowOnFatal;
using test_support::write_file;

class ArchiveHeaderTest : public testing::Test {
 protected:
  ScopedTempDir dir_;
  ThrowOnFatal fatal_;
};

struct HeaderCase {
  const char* name;
  std::string header;
  std::string boundary;  // empty: the header is refused with -3
};

const HeaderCase HEADER_CASES[] = {
    {"quoted", "Content-Type: multipart/related; boundary=\"XYZ\"\n", "XYZ"},
    {"quoted mid-line",
     "MIME-Version: 1.0\nContent-Type: multipart/related; "
     "boundary=\"----=_NextPart_01DA\"; type=\"text/html\"\r\n",
     "----=_NextPart_01DA"},
    {"quoted holds blanks and ;", "Content-Type: m; boundary=\"a b;\tc\"\n",
     "a b;\tc"},
    {"quoted at end of file", "Content-Type: m; boundary=\"Q\"", "Q"},
    {"bare ends at ;", "Content-Type: m; boundary=abc;type=x\n", "abc"},
    {"bare ends at blank", "Content-Type: m; boundary=abc def\n", "abc"},
    {"bare ends at tab", "Content-Type: m; boundary=abc\tdef\n", "abc"},
    {"bare ends at CR LF", "Content-Type: m; boundary=abc\r\n", "abc"},
    {"bare ends at LF", "Content-Type: m; boundary=abc\n", "abc"},
    {"bare ends at end of file", "Content-Type: m; boundary=abc", "abc"},
    {"bare keeps a quote inside", "Content-Type: m; boundary=a\"b\n", "a\"b"},
    {"first Content-Type line counts",
     "X: 1\nContent-Type: m; boundary=\"one\"\nContent-Type: m; "
     "boundary=\"two\"\n",
     "one"},
    {"lower case line is passed over",
     "content-type: m; boundary=\"low\"\nContent-Type: m; boundary=\"UP\"\n",
     "UP"},
    {"empty quoted", "Content-Type: m; boundary=\"\"\n", ""},
    {"unclosed quote", "Content-Type: m; boundary=\"abc\n", ""},
    {"unclosed quote, quote on next line",
     "Content-Type: m; boundary=\"abc\n\"\n", ""},
    {"empty bare at line end", "Content-Type: m; boundary=\n", ""},
    {"empty bare before ;", "Content-Type: m; boundary=;x\n", ""},
    {"empty bare before blank", "Content-Type: m; boundary= x\n", ""},
    {"no boundary parameter", "Content-Type: text/html\n", ""},
    {"boundary on the next line",
     "Content-Type: multipart/related;\n\tboundary=\"XYZ\"\n", ""},
    {"first line lacks it, second has it",
     "Content-Type: m\nContent-Type: m; boundary=\"x\"\n", ""},
    {"lower case only", "content-type: m; boundary=\"x\"\n", ""},
    {"keyword with case", "Content-Type: m; Boundary=\"x\"\n", ""},
    {"no Content-Type", "Subject: x\nboundary=\"x\"\n", ""},
    {"empty file", "", ""},
};

TEST_F(ArchiveHeaderTest, BoundaryFromTheContentTypeLine) {
  for (const HeaderCase& c : HEADER_CASES) {
    SCOPED_TRACE(c.name);
    write_file("a.mht", c.header);
    std::string boundary;
    const Outcome outcome =
        run_captured([&] { boundary = open_archive("a.mht").boundary; });
    EXPECT_EQ(outcome.out, "");
    if (c.boundary.empty()) {
      ASSERT_TRUE(outcome.fatal.has_value());
      EXPECT_EQ(outcome.fatal->status, STATUS_BAD_FORMAT);
      EXPECT_EQ(outcome.fatal->message, "");  // header faults say nothing
    } else {
      ASSERT_FALSE(outcome.fatal.has_value());
      EXPECT_EQ(boundary, c.boundary);
    }
  }
}

TEST_F(ArchiveHeaderTest, MissingArchiveIsStatusMinus2WithPathAsGiven) {
  std::filesystem::create_directory("dir.mht");
  for (const std::string path : {"no such.mht", "./dir.mht", ""}) {
    const Outcome outcome = run_captured([&] { open_archive(path); });
    ASSERT_TRUE(outcome.fatal.has_value()) << path;
    EXPECT_EQ(outcome.fatal->status, STATUS_CANNOT_OPEN);
    EXPECT_EQ(outcome.fatal->message,
              "Chyba. Nemohu otevrit soubor" + path + ".\n");
  }
}

TEST_F(ArchiveHeaderTest, SkipDropsThePreambleAndTheBoundaryLine) {
  write_file("a.mht",
             "Content-Type: m; boundary=\"B\"\n\npreamble\n--B\nfirst\n");
  ArchiveReader reader = open_archive("a.mht");
  ASSERT_TRUE(skip_to_first_boundary(reader));
  EXPECT_FALSE(reader.closed);
  EXPECT_EQ(*read_line(reader), "first\n");
}

TEST_F(ArchiveHeaderTest, SkipFindsNoBoundary) {
  write_file("a.mht", "Content-Type: m; boundary=\"B\"\nno parts here\n");
  ArchiveReader reader = open_archive("a.mht");
  EXPECT_FALSE(skip_to_first_boundary(reader));
}

TEST_F(ArchiveHeaderTest, CloseDelimiterAsFirstBoundaryClosesTheReader) {
  write_file("a.mht", "Content-Type: m; boundary=\"B\"\n--B--\nepilogue\n");
  ArchiveReader reader = open_archive("a.mht");
  ASSERT_TRUE(skip_to_first_boundary(reader));
  EXPECT_TRUE(reader.closed);
}

struct CloseCase {
  std::string line;
  bool closes;
};

const CloseCase CLOSE_CASES[] = {
    {"--B--\n", true},         {"--B--", true},
    {"--B--\r\n", true},       {"B--", true},
    {"--B--trailing\n", true}, {"--B\n", false},
    {"--B\r\n", false},        {"--B-\n", false},
    {"--B --\n", false},       {"-- B\n", false},
    {"--b--\n", false},        {"x B y B--\n", true},
    {"--BB--\n", true},        {"", false},
};

TEST_F(ArchiveHeaderTest, CloseDelimiterIsBoundaryThenTwoHyphens) {
  write_file("a.mht", "Content-Type: m; boundary=B\n");
  const ArchiveReader reader = open_archive("a.mht");
  for (const CloseCase& c : CLOSE_CASES)
    EXPECT_EQ(is_close_delimiter(reader, c.line), c.closes) << c.line;
}

// --progress in the default mode: the reader's offset of the file's size;
// a FIFO has no size to show it against.
TEST_F(ArchiveHeaderTest, ProgressIsTheReaderOffsetOfTheSize) {
  const std::string archive =
      "Content-Type: m; boundary=B\n\n--B\n"
      "Content-Location: file:///C:/a.htm\nContent-Transfer-Encoding: q\n"
      "x\ny\nbody\n--B--\n";
  write_file("a.mht", archive);
  ProgressMeter meter([] { return std::chrono::nanoseconds{0}; },
                      [](std::string_view) {}, 80);
  active_progress = &meter;
  meter.begin();
  {
    ArchiveReader reader = open_archive("a.mht");
    EXPECT_TRUE(meter.figures().total_known);
    EXPECT_EQ(meter.figures().total, archive.size());
    ASSERT_TRUE(skip_to_first_boundary(reader));
    ASSERT_TRUE(read_part(reader));
    while (!read_body(reader).empty()) {
    }
    EXPECT_EQ(meter.figures().done, archive.size());
  }
  ASSERT_EQ(::mkfifo("pipe", 0600), 0);
  meter.begin();
  EXPECT_TRUE(run_captured([] { (void)open_archive("pipe"); }).fatal);
  EXPECT_FALSE(meter.figures().total_known);
  active_progress = nullptr;
}

}  // namespace

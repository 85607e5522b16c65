#include "mime_archive.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

namespace {

using test_support::ScopedTempDir;
using test_support::write_file;

struct Expected {
  std::string_view type, encoding, location, id, body;
};

// Bytes this process has read so far, by any read call.
std::uint64_t bytes_read() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return 0;
}

MimeArchive parse_bytes(std::string_view bytes, std::string& kept) {
  write_file("archive.mht", bytes);
  const int fd = ::open("archive.mht", O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  MimeArchive archive = parse_mime_archive(fd);
  ::close(fd);
  kept.assign(bytes);
  return archive;
}

void expect_leaves(const MimeArchive& archive, const std::string& bytes,
                   const std::vector<Expected>& expected) {
  ASSERT_EQ(archive.leaves.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const MimeLeaf& leaf = archive.leaves[i];
    const Expected& want = expected[i];
    EXPECT_EQ(leaf.content_type, want.type) << i;
    EXPECT_EQ(leaf.transfer_encoding, want.encoding) << i;
    EXPECT_EQ(leaf.location, want.location) << i;
    EXPECT_EQ(leaf.content_id, want.id) << i;
    EXPECT_EQ(bytes.substr(leaf.body_offset, leaf.body_length), want.body) << i;
  }
}

// A multipart archive of boundary `boundary` around each case's body: its
// parts' bodies, in order.
struct Case {
  std::string_view name, body;
  std::vector<std::string_view> parts;
};

void expect_bodies(std::string_view boundary, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const ScopedTempDir dir;
    std::string bytes;
    const MimeArchive archive = parse_bytes(
        "Content-Type: multipart/mixed; boundary=" + std::string(boundary) +
            "\r\n\r\n" + std::string(c.body),
        bytes);
    ASSERT_EQ(archive.leaves.size(), c.parts.size()) << c.name;
    for (std::size_t i = 0; i < c.parts.size(); ++i) {
      const MimeLeaf& leaf = archive.leaves[i];
      EXPECT_EQ(bytes.substr(leaf.body_offset, leaf.body_length), c.parts[i])
          << c.name;
    }
  }
}

// A browser's layout: the boundary on a folded line, header fields in any
// order and case, https and cid locations, a nested alternative, 7bit and
// binary bodies, a preamble and an epilogue.
TEST(MimeArchive, ReadsABrowserArchive) {
  static constexpr char browser[] =
      "From: <Saved by a browser>\r\n"
      "Snapshot-Content-Location: https://h/\r\n"
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/related;\r\n"
      "\ttype=\"text/html\"; start=\"<page@h>\";\r\n"
      "\tboundary=\"----B\"\r\n"
      "\r\n"
      "preamble\r\n"
      "------B\r\n"
      "content-location: https://h/\r\n"
      "CONTENT-TRANSFER-ENCODING: Quoted-Printable\r\n"
      "Content-ID: <page@h>\r\n"
      "Content-Type: text/html;\r\n charset=utf-8\r\n"
      "\r\n"
      "<p>a=3Db</p>\r\n"
      "\r\n"
      "------B\r\n"
      "Content-Type: multipart/alternative; boundary=inner\r\n"
      "\r\n"
      "--inner\r\n"
      "Content-Type: text/plain\r\n"
      "Content-Transfer-Encoding: 7bit\r\n"
      "\r\n"
      "plain\r\n"
      "--inner\r\n"
      "Content-Transfer-Encoding: binary\r\n"
      "Content-Location: cid:img@h\r\n"
      "Content-Type: image/png\r\n"
      "\r\n"
      "\x89PNG\r\n\x1a\n\0\r\n"
      "--inner--\r\n"
      "------B\r\n"
      "Content-Type: text/css\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Location: https://h/s.css\r\n"
      "\r\n"
      "cD17fQ==\r\n"
      "------B--\r\n"
      "epilogue\r\n";
  const ScopedTempDir dir;
  std::string bytes;
  // Sized by hand: the picture holds a NUL byte.
  const MimeArchive archive =
      parse_bytes(std::string_view(browser, sizeof browser - 1), bytes);
  EXPECT_EQ(archive.layout, MimeLayout::multipart);
  EXPECT_EQ(archive.start, "<page@h>");
  expect_leaves(archive, bytes,
                {{"text/html", "quoted-printable", "https://h/", "page@h",
                  "<p>a=3Db</p>\r\n"},
                 {"text/plain", "7bit", "", "", "plain"},
                 {"image/png", "binary", "cid:img@h", "",
                  std::string_view("\x89PNG\r\n\x1a\n\0", 9)},
                 {"text/css", "base64", "https://h/s.css", "", "cD17fQ=="}});
  EXPECT_EQ(archive.leaves[0].charset, "utf-8");
}

// The edges of where a body ends, each as Python's email package has it.
TEST(MimeArchive, CutsBodiesAtDelimiterLines) {
  const std::vector<Case> cases = {
      {"lone LF and CR line ends", "--b\n\nA\n--b\r\rB\r--b--", {"A", "B"}},
      {"no close delimiter", "--b\r\n\r\nA\r\n--b\r\n\r\nB\r\n", {"A", "B"}},
      {"consecutive delimiters open one part",
       "--b\r\n--b\r\n\r\nA\r\n--b--\r\n",
       {"A"}},
      {"a longer line is no delimiter",
       "--b \t\r\n\r\nA\r\n--bX\r\n--b--",
       {"A\r\n--bX"}},
      {"empty line kept", "--b\n\nA\n\n--b--\n", {"A\n"}},
      {"close delimiter first", "pre\r\n--b--\r\nepi\r\n", {"pre\r\n"}},
      {"no delimiter at all", "text\r\n", {"text\r\n"}},
  };
  expect_bodies("b", cases);
}

TEST(MimeArchive, TellsSinglePartsAndFilesThatAreNotMime) {
  const ScopedTempDir dir;
  std::string bytes;
  MimeArchive archive = parse_bytes(
      "MIME-Version: 1.0\n"
      "Content-Location: file:///C:/d/Book.htm\n"
      "Content-Transfer-Encoding: quoted-printable\n"
      "Content-Type: text/html\n"
      "\n"
      "<html>=\n</html>\n",
      bytes);
  EXPECT_EQ(archive.layout, MimeLayout::single);
  expect_leaves(archive, bytes,
                {{"text/html", "quoted-printable", "file:///C:/d/Book.htm", "",
                  "<html>=\n</html>\n"}});

  for (const std::string_view not_mime :
       {std::string_view("hello\nworld\n"), std::string_view(""),
        std::string_view("MIME-Version: 1.0\n\nbody\n"),
        std::string_view("\x89PNG\r\n\x1a\n", 8)}) {
    archive = parse_bytes(not_mime, bytes);
    EXPECT_EQ(archive.layout, MimeLayout::not_mime) << not_mime;
    EXPECT_TRUE(archive.leaves.empty());
  }
}

// Where an inner multipart ends when an outer delimiter comes first, which
// boundary wins when two match, and what is a look-alike.
TEST(MimeArchive, NestedMultipartsEndAtAnyOpenBoundary) {
  const std::vector<Case> cases = {
      {"inner cut by the outer delimiter, one line end per level",
       "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n"
       "--i\r\n\r\nA\r\n\r\n\r\n--o\r\n\r\nB\r\n--o--\r\n",
       {"A\r\n", "B"}},
      {"the same boundary nested: the outer one wins",
       "--o\r\nContent-Type: multipart/mixed; boundary=o\r\n\r\n"
       "--o\r\n\r\nA\r\n--o--\r\n",
       {"", "A"}},
      {"an outer delimiter inside an inner header block",
       "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n"
       "--i\r\nContent-Type: text/css\r\n--o\r\n\r\nB\r\n--o--",
       {"", "B"}},
      {"boundaries that begin alike",
       "--o\r\nContent-Type: multipart/mixed; boundary=o-\r\n\r\n"
       "--o-\r\n\r\nA\r\n--o-X\r\n--o---\r\n--o--\r\n",
       {"A\r\n--o-X"}},
      {"look-alikes of both levels stay in the body",
       "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n"
       "--i\r\n\r\nx--o\r\n--ox\r\n--i -\r\n --i\r\n--i--\r\n--o--\r\n",
       {"x--o\r\n--ox\r\n--i -\r\n --i"}},
      {"a message inside a part",
       "--o\r\nContent-Type: message/rfc822\r\n\r\n"
       "Content-Type: text/css\r\n\r\nC\r\n--o--\r\n",
       {"C"}},
  };
  expect_bodies("o", cases);
}

// Each shape once cost a read for every look-alike or every level of
// nesting; the archive is now read once, whatever it holds.
TEST(MimeArchive, ReadsTheArchiveOnce) {
  const std::size_t mib = std::size_t{1} << 20;
  std::string lookalikes =
      "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
      "--b\r\n\r\n";
  while (lookalikes.size() < 2 * mib) lookalikes += "x--b--b\r\n--bb--b\n";
  lookalikes += "\r\n--b--\r\n";

  std::string nested;
  for (int level = 0; level < 63; ++level)
    nested += "Content-Type: multipart/mixed; boundary=b" +
              std::to_string(level) + "\r\n\r\n--b" + std::to_string(level) +
              "\r\n";
  nested += "\r\n";
  for (int line = 0; nested.size() < 2 * mib; ++line)
    nested += "--b" + std::to_string(line % 63) + "x\r\n";

  const std::string boundary(mib, '=');
  std::string long_boundary =
      "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  for (int part = 0; part < 6; ++part)
    long_boundary += "--" + boundary + "\r\n\r\npart\r\n";
  long_boundary += "--" + boundary + "--\r\n";

  const struct {
    std::string_view name;
    const std::string& archive;
    std::size_t leaves;
  } cases[] = {{"look-alikes", lookalikes, 1},
               {"63 levels around look-alikes", nested, 1},
               {"a boundary of 1 MiB", long_boundary, 6}};
  for (const auto& c : cases) {
    const ScopedTempDir dir;
    std::string bytes;
    const std::uint64_t before = bytes_read();
    const MimeArchive archive = parse_bytes(c.archive, bytes);
    const std::uint64_t read = bytes_read() - before;
    EXPECT_EQ(archive.leaves.size(), c.leaves) << c.name;
    EXPECT_LE(read, c.archive.size() + 4096) << c.name;
  }
}

// Delimiters on the edges of the blocks the archive is read in, and one
// whose line goes on in blanks far past a block, closing an inner
// multipart whose last part ends one line end before it.
TEST(MimeArchive, FindsDelimitersAcrossReadBlocks) {
  const std::size_t block = std::size_t{1} << 20;
  const std::string head =
      "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\n";
  for (std::size_t shift = 0; shift < 6; ++shift) {
    const ScopedTempDir dir;
    std::string body(block - head.size() - 3 + shift, 'x');
    std::string bytes;
    const MimeArchive archive =
        parse_bytes(head + body + "\r\n--b\r\n\r\nB\r\n--b--\r\n", bytes);
    ASSERT_EQ(archive.leaves.size(), 2U) << shift;
    EXPECT_EQ(archive.leaves[0].body_length, body.size()) << shift;
    EXPECT_EQ(bytes.substr(archive.leaves[1].body_offset,
                           archive.leaves[1].body_length),
              "B")
        << shift;
  }

  const ScopedTempDir dir;
  std::string bytes;
  const MimeArchive archive = parse_bytes(
      "Content-Type: multipart/mixed; boundary=o\r\n\r\n"
      "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n"
      "--i\r\n\r\nA\r\n\r\n--o" +
          std::string(3 * block, ' ') + "\r\n\r\nB\r\n--o--\r\n",
      bytes);
  ASSERT_EQ(archive.leaves.size(), 2U);
  EXPECT_EQ(bytes.substr(archive.leaves[0].body_offset,
                         archive.leaves[0].body_length),
            "A");
  EXPECT_EQ(bytes.substr(archive.leaves[1].body_offset,
                         archive.leaves[1].body_length),
            "B");
}

// A header block ends within 8 MiB of its entity: a field beyond that is
// body. Fields the tool does not read cost nothing however many.
TEST(MimeArchive, CapsAHeaderBlockAt8MiB) {
  const std::size_t cap = std::size_t{8} << 20;
  std::string fields;
  while (fields.size() < cap + 4096) fields += "X-F: v\r\n";

  const ScopedTempDir dir;
  std::string bytes;
  MimeArchive archive =
      parse_bytes(fields + "Content-Type: text/css\r\n\r\nbody\r\n", bytes);
  EXPECT_EQ(archive.layout, MimeLayout::not_mime);

  const std::string part_head =
      "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n";
  archive = parse_bytes(part_head + "Content-Type: text/css\r\n" + fields +
                            "Content-Location: https://h/a.css\r\n\r\nbody"
                            "\r\n--b--\r\n",
                        bytes);
  ASSERT_EQ(archive.leaves.size(), 1U);
  const MimeLeaf& leaf = archive.leaves[0];
  EXPECT_EQ(leaf.content_type, "text/css");
  EXPECT_EQ(leaf.location, "");
  // The body starts with the line that crosses the cap.
  EXPECT_GT(leaf.body_offset + 8, part_head.size() + cap);
  EXPECT_LE(leaf.body_offset, part_head.size() + cap);
}

// A lone CR ends a header line as it ends any other line: GMime once read
// the fields after it as part of the first one's value.
TEST(MimeArchive, ALoneCarriageReturnEndsAHeaderLine) {
  const ScopedTempDir dir;
  std::string bytes;
  const MimeArchive archive = parse_bytes(
      "Content-Type: multipart/mixed; boundary=b\r\r--b\r"
      "Content-Type: text/css\rX-A: 1\rContent-Location: https://h/a.css\r"
      "\rp{}\r--b--\r",
      bytes);
  expect_leaves(archive, bytes,
                {{"text/css", "", "https://h/a.css", "", "p{}"}});
}

// The names a mail gives its attachments, in every form mail programs
// write them, come out as one UTF-8 name; Content-Disposition before
// Content-Type.
TEST(MimeArchive, ReadsAttachmentNames) {
  struct Case {
    std::string_view fields, filename;
  };
  static const Case cases[] = {
      {"Content-Disposition: attachment; filename*=utf-8''zpr%C3%A1va.pdf",
       "zpr\xc3\xa1va.pdf"},
      {"Content-Disposition: attachment;\r\n"
       " filename*0*=utf-8''%C5%BElu%C5%A5ou%C4%8Dk%C3%BD;\r\n"
       " filename*1*=%20k%C5%AF%C5%88;\r\n filename*2=\".txt\"",
       "\xc5\xbelu\xc5\xa5ou\xc4\x8dk\xc3\xbd k\xc5\xaf\xc5\x88.txt"},
      {"Content-Disposition: attachment;\r\n filename=\"=?utf-8?b?"
       "xb5sdcWlb3XEjWvDvS5wZGY=?=\"",
       "\xc5\xbelu\xc5\xa5ou\xc4\x8dk\xc3\xbd.pdf"},
      {"Content-Disposition: attachment;"
       " filename*=iso-8859-2''%B9%E8%ED%F2.txt",
       "\xc5\xa1\xc4\x8d\xc3\xad\xc5\x88.txt"},
      {"Content-Type: application/pdf; name=\"=?iso-8859-2?q?=B9=E8.pdf?=\"",
       "\xc5\xa1\xc4\x8d.pdf"},
      {"Content-Type: application/pdf; name=\"typ.pdf\"\r\n"
       "Content-Disposition: attachment; filename=\"dispozice.pdf\"",
       "dispozice.pdf"},
      {"Content-Disposition: inline; filename=\"  \"\r\n"
       "Content-Type: text/plain; name=typ.txt",
       "typ.txt"},
      {"Content-Disposition: attachment; filename=\"../../etc/passwd\"",
       "../../etc/passwd"},
      {"Content-Disposition: attachment", ""},
  };
  const ScopedTempDir dir;
  for (const Case& c : cases) {
    std::string bytes;
    const MimeArchive archive =
        parse_bytes(std::string("Content-Type: multipart/mixed; boundary=b\r\n"
                                "\r\n--b\r\n") +
                        std::string(c.fields) + "\r\n\r\nbody\r\n--b--\r\n",
                    bytes);
    ASSERT_EQ(archive.leaves.size(), 1U) << c.fields;
    EXPECT_EQ(archive.leaves[0].filename, c.filename) << c.fields;
    EXPECT_EQ(bytes.substr(archive.leaves[0].body_offset,
                           archive.leaves[0].body_length),
              "body");
  }
}

}  // namespace

namespace {

// Only the outermost block's Subject, Date and Snapshot-Content-Location
// describe the archive; a part's own are not the message's.
TEST(MimeArchive, ReadsTheMessagesOwnDescription) {
  const ScopedTempDir dir;
  std::string kept;
  const MimeArchive archive = parse_bytes(
      "From: a@b\r\nSubject: =?utf-8?q?Zpr=C3=A1va?=\r\n"
      "Date:  Thu, 10 Dec 2026 03:00:00 +0000 \r\n"
      "Snapshot-Content-Location: https://x.example/\r\n"
      "Content-Type: multipart/related; boundary=b\r\n\r\n"
      "--b\r\nSubject: inner\r\nDate: never\r\nContent-Type: text/html\r\n\r\n"
      "<p>\r\n--b--\r\n",
      kept);
  EXPECT_EQ(archive.subject, "Zpr\xc3\xa1va");
  EXPECT_EQ(archive.date, "Thu, 10 Dec 2026 03:00:00 +0000");
  EXPECT_EQ(archive.snapshot_location, "https://x.example/");
  ASSERT_EQ(archive.leaves.size(), 1U);

  const MimeArchive bare =
      parse_bytes("Content-Type: text/plain\r\n\r\nhi\r\n", kept);
  EXPECT_EQ(bare.subject, "");
  EXPECT_EQ(bare.date, "");
  EXPECT_EQ(bare.snapshot_location, "");
}

}  // namespace

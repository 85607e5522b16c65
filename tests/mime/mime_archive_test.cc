#include "mime_archive.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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
  struct Case {
    std::string_view name, body;
    std::vector<std::string_view> parts;
  };
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
  for (const Case& c : cases) {
    const ScopedTempDir dir;
    std::string bytes;
    const MimeArchive archive =
        parse_bytes("Content-Type: multipart/mixed; boundary=b\r\n\r\n" +
                        std::string(c.body),
                    bytes);
    ASSERT_EQ(archive.leaves.size(), c.parts.size()) << c.name;
    for (std::size_t i = 0; i < c.parts.size(); ++i) {
      const MimeLeaf& leaf = archive.leaves[i];
      EXPECT_EQ(bytes.substr(leaf.body_offset, leaf.body_length), c.parts[i])
          << c.name;
    }
  }
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

}  // namespace

#include "offline_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PathCase {
  const char* from;
  const char* to;
  const char* expected;
};

const PathCase RELATIVE_CASES[] = {
    {"page.html", "image.png", "image.png"},
    {"page.html", "page_files/image.png", "page_files/image.png"},
    {"d/page.html", "d/image.png", "image.png"},
    {"d/page.html", "d/e/f/image.png", "e/f/image.png"},
    {"h/a/b/page.html", "h/c/image.png", "../../c/image.png"},
    {"h/a/page.html", "cid/x", "../../cid/x"},
    {"a/b/c/page.html", "page.html", "../../../page.html"},
    {"d/page.html", "d/page.html", "page.html"},
    {"a/page.html", "a", "../a"},  // a file named like the directory
    {"a/b/page.html", "a/b", "../b"},
    {"./d//page.html", "d/./x.png", "x.png"},
};

TEST(OfflinePath, RelativePath) {
  for (const PathCase& c : RELATIVE_CASES) {
    EXPECT_EQ(relative_path(c.from, c.to), c.expected)
        << c.from << " -> " << c.to;
  }
}

struct EncodeCase {
  std::string path;
  std::string expected;
};

const EncodeCase ENCODE_CASES[] = {
    {"page_files/image001.png", "page_files/image001.png"},
    {"../a-b_c~d.e/f", "../a-b_c~d.e/f"},
    {"a b/c%d#e?f", "a%20b/c%25d%23e%3Ff"},
    {"h/load.php?x=1&y=2", "h/load.php%3Fx=1%26y=2"},
    {"C:x/y", "C%3Ax/y"},  // never read as a scheme
    {"q\"'<>`\\(),;", "q%22%27%3C%3E%60%5C%28%29%2C%3B"},
    {std::string("t\x01\t\n\x7F", 5), "t%01%09%0A%7F"},
    {"caf\xc3\xa9/\xff", "caf%C3%A9/%FF"},
    {"!$*+=@", "!$*+=@"},
};

TEST(OfflinePath, EncodeUrlPath) {
  for (const EncodeCase& c : ENCODE_CASES) {
    EXPECT_EQ(encode_url_path(c.path), c.expected) << c.path;
  }
}

}  // namespace

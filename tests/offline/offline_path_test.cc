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

}  // namespace

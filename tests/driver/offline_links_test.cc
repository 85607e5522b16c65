#include "offline_links.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

MimeLeaf leaf(std::string type, std::string location, std::string id = {},
              std::string base = {}) {
  MimeLeaf out;
  out.content_type = std::move(type);
  out.location = std::move(location);
  out.content_id = std::move(id);
  out.base_location = std::move(base);
  return out;
}

// A reference seen from one part: read against its <base href> and its
// location, looked up, answered as an encoded path between the two files.
TEST(OfflineLinks, Resolve) {
  MimeArchive archive;
  archive.start = "<main@h>";
  archive.leaves = {
      leaf("text/html", "https://h/dir/page.html"),
      leaf("text/html", "https://h/dir/main.html", "main@h"),
      leaf("image/png", "img/a b.png", "", "https://h/dir/"),
      leaf("image/png", "", "logo@h"),
      leaf("text/css", "C:\\Doc\\s.css"),
      leaf("text/html", "file:///C:/Doc/p.htm"),
      leaf("image/png", "https://h/dir/img/a%20b.png"),  // a second one
      leaf("text/css", "https://h/dir/l.php?x=1"),
  };
  const std::vector<std::string> names = {
      "h/dir/page.html",     "h/dir/main.html",    "h/dir/img/a b.png",
      "cid/logo@h",          "Doc/s.css",          "Doc/p.htm",
      "h/dir/img/a b-2.png", "h/dir/l.php-x=1.css"};
  OfflineLinks links(archive, names);
  EXPECT_EQ(links.main_page(), 1U);
  const struct {
    std::size_t from;
    const char* reference;
    const char* base;
    const char* answer;  // nullptr: not held
  } cases[] = {
      {0, "img/a%20b.png", "", "img/a%20b.png"},
      {0, "/dir/img/a b.png", "", "img/a%20b.png"},
      {0, "a%20b.png", "img/", "img/a%20b.png"},
      {0, "a%20b.png", "https://H/dir/img/", "img/a%20b.png"},
      {0, "https://h/dir/img/a%20b.png", "", "img/a%20b.png"},
      {0, "..\\img\\a b.png", "img/", "img/a%20b.png"},
      {0, "cid:logo@h", "", "../../cid/logo@h"},
      {0, "main.html", "", "main.html"},
      {0, "page.html", "", "page.html"},
      {0, "img/b.png", "", nullptr},
      {0, "https://other/dir/img/a%20b.png", "", nullptr},
      {0, "data:image/png;base64,AAAA", "", nullptr},
      {5, "s.css", "", "s.css"},
      {5, "file:///c:/doc/s.css", "", nullptr},  // a path keeps its case
      {4, "p.htm", "", "p.htm"},
      // Dot segments and queries, walked from the base's directory.
      {0, "../dir/./img/a%20b.png", "", "img/a%20b.png"},
      {0, "img/../img/x/../a b.png", "", "img/a%20b.png"},
      {0, "/../../dir/main.html", "", "main.html"},
      {0, "../../../dir/l.php?x=1", "", "l.php-x=1.css"},
      {0, "l.php?x=2", "", nullptr},
      {7, "?x=1", "", "l.php-x=1.css"},
      {0, "?x=1", "", nullptr},
      {0, "img/", "", nullptr},
      // The page loses its base: what names no part is written absolute.
      {0, "img/b.png", "https://h/x/", "https://h/x/img/b.png"},
      {0, "../../../../etc/passwd", "https://h/d/", "https://h/etc/passwd"},
      {0, "//cdn/x.js?v=1#f", "https://h/d/", "https://cdn/x.js?v=1"},
      {0, "q?a", "sub/", "https://h/dir/sub/q?a"},
      {0, "https://other/x", "https://h/d/", nullptr},
      {0, "mailto:a@h", "https://h/d/", nullptr},
  };
  for (const auto& c : cases) {
    const std::optional<std::string> got =
        links.resolve(c.from, c.reference, c.base);
    if (c.answer == nullptr)
      EXPECT_FALSE(got.has_value()) << c.reference << " -> " << *got;
    else
      EXPECT_EQ(got.value_or("(none)"), c.answer) << c.reference;
  }
}

TEST(OfflineLinks, MainPageWithoutStart) {
  MimeArchive archive;
  archive.start = "<gone@h>";
  archive.leaves = {leaf("text/css", "a.css"), leaf("text/html", "b.html")};
  const std::vector<std::string> names = {"a.css", "b.html"};
  EXPECT_EQ(OfflineLinks(archive, names).main_page(), 1U);
  archive.leaves.pop_back();
  EXPECT_EQ(OfflineLinks(archive, {"a.css"}).main_page(),
            static_cast<std::size_t>(-1));
}

}  // namespace

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
  };
  const std::vector<std::string> names = {
      "h/dir/page.html", "h/dir/main.html", "h/dir/img/a b.png",  "cid/logo@h",
      "Doc/s.css",       "Doc/p.htm",       "h/dir/img/a b-2.png"};
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

#include "part_names.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <unordered_set>

namespace {

// Every naming rule, one row each: what a part says, and where it goes.
TEST(PartNames, FollowTheRules) {
  struct Case {
    std::string_view location, base, id, type;
    std::size_t index;
    bool single;
    std::string_view expected;
  };
  static const Case cases[] = {
      // Office locations: the same paths as the default mode.
      {"file:///C:/a/b.png", "", "", "image/png", 1, false, "a/b.png"},
      {"file:///z:/x/page.htm", "", "", "text/html", 1, false, "x/page.htm"},
      {"file://host/share/a/b", "", "", "", 1, false, "a/b"},
      {"file:///etc/passwd", "", "", "", 1, false, "etc/passwd"},
      {"file:///C:/../../x", "", "", "", 1, false, "x"},
      {"C:\\dir\\x.png", "", "", "", 1, false, "dir/x.png"},
      // Web locations keep their host; a directory gets index.html.
      {"https://Example.COM/", "", "", "text/html", 1, false,
       "example.com/index.html"},
      {"http://h:8080/p/q", "", "", "", 1, false, "h/p/q"},
      {"http://h/p/q/", "", "", "text/css", 1, false, "h/p/q/index.html"},
      {"https://h/load.php?x=1", "", "", "", 1, false, "h/load.php?x=1"},
      {"https://h/s?a=b/c", "", "", "", 1, false, "h/s?a=b%2Fc"},
      {"https://h/x", "", "", "text/html", 1, false, "h/x.html"},
      {"https://h/a.HTM", "", "", "text/html", 1, false, "h/a.HTM"},
      {"http://h/../../etc/passwd", "", "", "", 1, false, "h/etc/passwd"},
      {"https://h/a%20b/%2e%2e/c.css", "", "", "", 1, false, "h/c.css"},
      {"https://h/%2F%00x%41", "", "", "", 1, false, "h/%2F%00xA"},
      {"http://h/a//b", "", "", "", 1, false, "h/a/b"},
      // Relative locations: against the enclosing one, else as they are.
      {"images/a.png", "http://h/dir/page.html", "", "", 1, false,
       "h/dir/images/a.png"},
      {"images/a.png", "", "", "", 1, false, "images/a.png"},
      {"%2e%2e/%2e%2e/x", "", "", "", 1, false, "x"},
      {"..\\..\\x", "", "", "", 1, false, "..\\..\\x"},
      // Content-IDs.
      {"cid:img1@x", "", "", "image/png", 1, false, "cid/img1@x"},
      {"", "", "frame-1@mhtml.blink", "text/html", 1, false,
       "cid/frame-1@mhtml.blink.html"},
      {"", "", "a/b", "", 1, false, "cid/a%2Fb"},
      // No file name: part-N with the type's extension.
      {"data:image/png;base64,AAAA", "", "", "image/png", 3, false,
       "part-3.png"},
      {"wyciwyg://0/http://x/", "", "", "text/html", 7, false, "part-7.html"},
      {"about:blank", "", "", "text/html", 2, false, "part-2.html"},
      {"", "", "", "text/css", 4, false, "part-4.css"},
      {"", "", "", "application/x-unknown", 5, false, "part-5"},
      {"file:///C:/", "", "", "image/gif", 6, false, "part-6.gif"},
      // A single part is named after the archive, if nothing else.
      {"", "", "", "text/html", 1, true, "report.html"},
      {"file:///C:/d/Book.htm", "", "", "text/html", 1, true, "d/Book.htm"},
      // Bytes a file system or a terminal should never see.
      {"file:///C:/a\x01"
       "b\x7f",
       "", "", "", 1, false, "a_b_"},
  };
  for (const Case& c : cases) {
    const PartNaming naming{c.location, c.base, c.id, c.type, c.index};
    EXPECT_EQ(part_path(naming, "report", c.single), c.expected) << c.location;
  }
}

TEST(PartNames, StayWithinLengthLimits) {
  // A 300-byte name keeps its extension and gets a hash of the original.
  const std::string long_name(300, 'n');
  const std::string one = safe_relative_path("d/" + long_name + ".png");
  const std::string other = safe_relative_path("d/" + long_name + "x.png");
  EXPECT_EQ(one.size(), 2 + MAX_COMPONENT_BYTES);
  EXPECT_TRUE(one.ends_with(".png"));
  EXPECT_NE(one, other);
  // Many long directories: the path is cut, the name kept.
  std::string deep;
  for (int i = 0; i < 40; ++i) deep += std::string(200, 'a' + i % 26) + "/";
  const std::string cut = safe_relative_path(deep + "name.css");
  EXPECT_LE(cut.size(), MAX_PATH_BYTES);
  EXPECT_TRUE(cut.ends_with("/name.css"));
  EXPECT_EQ(safe_relative_path("/./../"), "");
}

TEST(PartNameAllocator, NeverGivesOneNameTwice) {
  PartNameAllocator names;
  EXPECT_EQ(names.allocate("a.png"), "a.png");
  EXPECT_EQ(names.allocate("a.png"), "a-2.png");
  EXPECT_EQ(names.allocate("a-2.png"), "a-2-2.png");
  EXPECT_EQ(names.allocate("a.png"), "a-3.png");
  // A file where a directory must go, and the other way round.
  EXPECT_EQ(names.allocate("f"), "f");
  EXPECT_EQ(names.allocate("f/x.css"), "f-2/x.css");
  EXPECT_EQ(names.allocate("d/x"), "d/x");
  EXPECT_EQ(names.allocate("d"), "d-2");
  // A suffix on a longest name keeps it within the limit.
  const std::string longest(MAX_COMPONENT_BYTES, 'z');
  EXPECT_EQ(names.allocate(longest), longest);
  EXPECT_EQ(names.allocate(longest).size(), MAX_COMPONENT_BYTES);
}

TEST(PartNameAllocator, TenThousandEqualNamesStayFast) {
  PartNameAllocator names;
  std::unordered_set<std::string> given;
  std::string last;
  for (int i = 0; i < 10000; ++i) {
    last = names.allocate("dir/same.png");
    EXPECT_TRUE(given.insert(last).second) << last;
  }
  EXPECT_EQ(last, "dir/same-10000.png");
}

}  // namespace

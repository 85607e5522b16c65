#include "part_names.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
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
      {"http://h/p/q/", "", "", "", 1, false, "h/p/q/index.html"},
      {"http://h/p/q/", "", "", "text/css", 1, false, "h/p/q/index.css"},
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
      {"cid:img1@x", "", "", "image/png", 1, false, "cid/img1@x.png"},
      {"cid:img1@x", "", "", "", 1, false, "cid/img1@x"},
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
      // Under its type's extension, its own when the type allows it.
      {"https://h/a.PNG", "", "", "image/png", 1, false, "h/a.PNG"},
      {"https://h/a.jpeg", "", "", "image/jpeg", 1, false, "h/a.jpeg"},
      {"https://h/a.jpeg", "", "", "image/jpg", 1, false, "h/a.jpeg"},
      {"https://h/a.png", "", "", "image/jpeg", 1, false, "h/a.png.jpg"},
      {"https://h/app", "", "", "application/x-javascript", 1, false,
       "h/app.js"},
      {"https://h/m.mjs", "", "", "text/javascript", 1, false, "h/m.mjs"},
      {"https://h/f", "", "", "application/font-woff2", 1, false, "h/f.woff2"},
      {"https://h/i", "", "", "image/svg+xml", 1, false, "h/i.svg"},
      {"https://h/i", "", "", "image/webp", 1, false, "h/i.webp"},
      {"https://h/favicon", "", "", "image/x-icon", 1, false, "h/favicon.ico"},
      {"https://h/blob", "", "", "application/octet-stream", 1, false,
       "h/blob"},
      {"https://h/x.pdf", "", "", "application/x-unknown", 1, false, "h/x.pdf"},
      {"", "", "", "application/octet-stream", 8, false, "part-8.bin"},
      {"https://h/i.png", "", "", "text/plain", 1, false, "h/i.png"},
      {"https://h/robots", "", "", "text/plain", 1, false, "h/robots.txt"},
      {"", "", "", "image/svg+xml", 2, true, "report.svg"},
      // A query comes before the extension, readable and pasteable.
      {"https://h/news.css?abc", "", "", "text/css", 1, false,
       "h/news_abc.css"},
      {"https://fonts/css?family=Roboto:400,700", "", "", "text/css", 1, false,
       "fonts/css_family=Roboto:400,700.css"},
      {"https://h/load.php?debug=false&lang=en&modules=a|b", "", "", "text/css",
       1, false, "h/load.php_debug=false_lang=en_modules=a_b.css"},
      {"https://h/q?a=\"b\";c*d'e`f$g", "", "", "text/css", 1, false,
       "h/q_a=_b__c_d_e_f_g.css"},
      {"https://h/p.png?w=1%26h=2#frag", "", "", "image/png", 1, false,
       "h/p_w=1_h=2.png"},
      {"https://h/f.woff2?v=3", "", "", "application/octet-stream", 1, false,
       "h/f_v=3.woff2"},
      {"https://h/load.php?x=1", "", "", "", 1, false, "h/load_x=1.php"},
      {"https://h/s?a=b/c", "", "", "", 1, false, "h/s_a=b%2Fc"},
      {"https://h/s?", "", "", "text/css", 1, false, "h/s.css"},
      {"https://h/?q=1", "", "", "text/html", 1, false, "h/index_q=1.html"},
      {"https://h/%3Fa%23b.css", "", "", "text/css", 1, false, "h/_a_b.css"},
      {"", "", "x?y#z", "image/gif", 1, false, "cid/x_y_z.gif"},
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

// A mail's attachment is named by its file name when no location names it,
// one component beneath the output directory, by the rules of every name.
TEST(PartNames, AttachmentsKeepTheirFileNames) {
  struct Case {
    std::string_view filename, location, id, type;
    bool single;
    std::string_view expected;
  };
  static const Case cases[] = {
      {"zpr\xc3\xa1va.pdf", "", "", "application/pdf", false,
       "zpr\xc3\xa1va.pdf"},
      {"  report.PDF ", "", "", "application/pdf", false, "report.PDF"},
      {"faktura.pdf", "", "", "application/octet-stream", false, "faktura.pdf"},
      {"smlouva.docx", "", "", "application/vnd.ms-word", false,
       "smlouva.docx"},
      {"poznamky", "", "", "text/plain", false, "poznamky.txt"},
      {"foto.png", "", "", "image/jpeg", false, "foto.png.jpg"},
      // The location first: a page refers to the part by it.
      {"logo.png", "https://h/img/logo.png", "", "image/png", false,
       "h/img/logo.png"},
      {"logo.png", "about:blank", "", "image/png", false, "logo.png"},
      // Then the file name, before the Content-ID and the archive's name.
      {"logo.png", "", "logo@mail", "image/png", false, "logo.png"},
      {"dopis.txt", "", "", "text/plain", true, "dopis.txt"},
      {"", "", "logo@mail", "image/png", false, "cid/logo@mail.png"},
      // Never a directory, never outside, nothing a terminal should see.
      {"../../etc/passwd", "", "", "", false, "..%2F..%2Fetc%2Fpasswd"},
      {"/etc/passwd", "", "", "", false, "%2Fetc%2Fpasswd"},
      {"..", "", "", "text/plain", false, "part-3.txt"},
      {".", "", "id@x", "", false, "cid/id@x"},
      {"a\x01?b#c\x7f.txt", "", "", "text/plain", false, "a__b_c_.txt"},
      {"100%41.pdf", "", "", "application/pdf", false, "100%41.pdf"},
  };
  for (const Case& c : cases) {
    const PartNaming naming{c.location, "", c.id, c.type, 3, c.filename};
    EXPECT_EQ(part_path(naming, "report", c.single), c.expected) << c.filename;
  }
  // A file name too long for a file system is cut like any other.
  const std::string long_name = std::string(300, 'x') + ".pdf";
  const PartNaming naming{"", "", "", "application/pdf", 1, long_name};
  const std::string path = part_path(naming, "report", false);
  EXPECT_EQ(path.size(), MAX_COMPONENT_BYTES);
  EXPECT_TRUE(path.ends_with(".pdf"));
  // Two attachments with one name: the second gets "-2".
  PartNameAllocator allocator;
  EXPECT_EQ(allocator.allocate(part_path(naming, "report", false)), path);
  EXPECT_EQ(allocator.allocate(part_path(naming, "report", false)),
            path.substr(0, path.size() - 6) + "-2.pdf");
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

// -n: a name on disk is passed over like one already given, its variants
// too; one that is free on disk is kept.
TEST(PartNameAllocator, PassesOverNamesOnDisk) {
  PartNameAllocator names([](const std::string& path) {
    return path == "a.png" || path == "a-2.png" || path == "d/x.css";
  });
  EXPECT_EQ(names.allocate("a.png"), "a-3.png");
  EXPECT_EQ(names.allocate("a.png"), "a-4.png");
  EXPECT_EQ(names.allocate("d/x.css"), "d/x-2.css");
  EXPECT_EQ(names.allocate("b.png"), "b.png");
}

TEST(PartNameAllocator, KeepsSiblingsInOneRenamedDirectory) {
  PartNameAllocator names;
  EXPECT_EQ(names.allocate("h/items"), "h/items");
  EXPECT_EQ(names.allocate("h/items/1.png"), "h/items-2/1.png");
  EXPECT_EQ(names.allocate("h/items/2.png"), "h/items-2/2.png");
  EXPECT_EQ(names.allocate("h/items/sub/3.png"), "h/items-2/sub/3.png");
  EXPECT_EQ(names.allocate("h/items/1.png"), "h/items-2/1-2.png");
  // The renamed directory is taken: a file of that name moves on.
  EXPECT_EQ(names.allocate("h/items-2"), "h/items-2-2");
  // A file deeper down renames its own level only.
  EXPECT_EQ(names.allocate("h/items/sub"), "h/items-2/sub-2");
  EXPECT_EQ(names.allocate("h/items/sub/4.png"), "h/items-2/sub/4.png");
}

// Every row of the table agrees with the system's media types database,
// where one is installed (Debian's media-types): no extension that the
// database gives to another type, or to none.
TEST(PartNames, TypeTableFollowsTheMediaTypesDatabase) {
  std::ifstream database("/etc/mime.types");
  if (!database) GTEST_SKIP() << "no /etc/mime.types";
  std::map<std::string, std::set<std::string>> listed;
  std::string line;
  while (std::getline(database, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string type;
    std::string extension;
    words >> type;
    while (words >> extension) listed[type].insert(extension);
  }
  for (const TypeExtensions& row : type_extensions()) {
    ASSERT_TRUE(listed.contains(std::string(row.type))) << row.type;
    std::istringstream words{std::string(row.extensions)};
    std::string extension;
    while (words >> extension)
      EXPECT_TRUE(listed[std::string(row.type)].contains(extension))
          << row.type << " " << extension;
    EXPECT_EQ(extensions_of_type(row.type), row.extensions);
  }
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

#include "url.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

// RFC 3986 section 5.4: every normal and abnormal example against its base.
TEST(Url, ResolvesTheReferenceExamples) {
  struct Case {
    std::string_view reference, target;
  };
  static constexpr Case cases[] = {
      {"g:h", "g:h"},
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"},
      {"g?y#s", "http://a/b/c/g?y#s"},
      {";x", "http://a/b/c/;x"},
      {"g;x", "http://a/b/c/g;x"},
      {"g;x?y#s", "http://a/b/c/g;x?y#s"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../", "http://a/"},
      {"../../g", "http://a/g"},
      {"../../../g", "http://a/g"},
      {"../../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},
      {".g", "http://a/b/c/.g"},
      {"g..", "http://a/b/c/g.."},
      {"..g", "http://a/b/c/..g"},
      {"./../g", "http://a/b/g"},
      {"./g/.", "http://a/b/c/g/"},
      {"g/./h", "http://a/b/c/g/h"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
      {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
      {"g?y/../x", "http://a/b/c/g?y/../x"},
      {"g#s/./x", "http://a/b/c/g#s/./x"},
      {"g#s/../x", "http://a/b/c/g#s/../x"},
      {"http:g", "http:g"},
  };
  const UrlReference base = parse_url("http://a/b/c/d;p?q");
  for (const Case& c : cases)
    EXPECT_EQ(recompose_url(resolve_url(base, parse_url(c.reference))),
              c.target)
        << c.reference;
}

TEST(Url, ParsesComponentsAndEscapes) {
  const UrlReference url = parse_url("HTTPS://User@Host:8/p%2Fq/?a=1#top");
  EXPECT_EQ(url.scheme, "https");
  EXPECT_EQ(url.authority, "User@Host:8");
  EXPECT_EQ(url.path, "/p%2Fq/");
  EXPECT_TRUE(url.has_query);
  EXPECT_EQ(url.query, "a=1");
  EXPECT_EQ(url.fragment, "top");
  // No valid scheme: all path ("1a:" can't start a scheme).
  EXPECT_EQ(parse_url("1a:b").path, "1a:b");
  EXPECT_FALSE(parse_url("a/b").is_absolute());
  EXPECT_EQ(recompose_url(parse_url("cid:x@y")), "cid:x@y");

  EXPECT_EQ(percent_decode("a%20b%2f%zz%4"), "a b/%zz%4");
  EXPECT_EQ(percent_decode_unreserved("%2e%2E/%41%2F%7e"), "../A%2F~");
  EXPECT_EQ(percent_encode("a b/\xff~", "/"), "a%20b/%FF~");
  EXPECT_EQ(remove_dot_segments("/a/b/c/./../../g"), "/a/g");
  EXPECT_EQ(remove_dot_segments("mid/content=5/../6"), "mid/6");
}

// Two spellings of one target share a key; different targets do not.
TEST(Url, KeysOfTwoSpellingsAgree) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"HTTPS://H.Example/a/./b/../c.png", "https://h.example/a/c.png", true},
      {"http://h:80/x", "http://h/x", true},
      {"https://h:443", "https://h/", true},
      {"https://h:8443/x", "https://h/x", false},
      {"https://h/a%20b.png", "https://h/a b.png", true},
      {"https://h/%7euser/%2e%2e/x", "https://h/x", true},
      {"https://h/a%2fb", "https://h/a%2Fb", true},
      {"https://h/a%2fb", "https://h/a/b", false},
      {"https://h/caf%c3%a9", "https://h/caf\xc3\xa9", true},
      {"https://h/P.png", "https://h/p.png", false},
      {"https://h/l.php?x=1", "https://h/l.php?x=2", false},
      {"https://h/x#top", "https://h/x", true},
      {"file:///C:/Doc/a.htm", "file:///c:/Doc/a.htm", true},
      {"file:///C|/Doc/a.htm", "file:///C:/Doc/a.htm", true},
      {"cid:logo%40h", "cid:logo@h", true},
      {"cid:Logo@h", "cid:logo@h", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(url_key(parse_url(c.a)) == url_key(parse_url(c.b)), c.same)
        << c.a << " vs " << c.b;
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

TEST(Url, EncodeUrlPath) {
  for (const EncodeCase& c : ENCODE_CASES) {
    EXPECT_EQ(encode_url_path(c.path), c.expected) << c.path;
  }
}

}  // namespace

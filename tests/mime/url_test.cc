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

}  // namespace

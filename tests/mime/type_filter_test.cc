// --only's patterns: what a list keeps and which lists are refused.
#include "type_filter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

TEST(TypeFilterTest, KeepsWhatItsPatternsMatch) {
  const struct {
    const char* list;
    std::vector<std::string> kept;
    std::vector<std::string> left;
  } cases[] = {
      {"image/*,text/css",
       {"image/png", "image/svg+xml", "text/css"},
       {"text/html", "imagex/png", "text/cssx", "image"}},
      {" Text/HTML , IMAGE/PNG ", {"text/html", "image/png"}, {"image/gif"}},
      {"*/*", {"text/html", "application/octet-stream", ""}, {}},
      {"*/html", {"text/html"}, {"text/plain"}},
      // A part without a type is text/plain.
      {"text/plain", {"", "text/plain"}, {"text/html"}},
  };
  for (const auto& c : cases) {
    const std::optional<TypeFilter> filter = TypeFilter::parse(c.list);
    ASSERT_TRUE(filter.has_value()) << c.list;
    for (const std::string& type : c.kept)
      EXPECT_TRUE(filter->keeps(type)) << c.list << " " << type;
    for (const std::string& type : c.left)
      EXPECT_FALSE(filter->keeps(type)) << c.list << " " << type;
  }
}

TEST(TypeFilterTest, RefusesListsWithoutAPattern) {
  for (const char* list :
       {"", "image", "image/*,", ",text/css", "/png", "image/", "a/b/c"})
    EXPECT_FALSE(TypeFilter::parse(list).has_value()) << list;
}

}  // namespace

#include "archive_stem.h"

#include <gtest/gtest.h>

namespace {

TEST(ArchiveStem, LastExtensionOffNeverOnlyDots) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"report.mht", "report"},
      {"dir/sub/b.v2.mhtml", "b.v2"},
      {"noext", "noext"},
      {".mht", ".mht"},
      {"..mht", "..mht"},
      {"...x", "...x"},
      {"a..mht", "a."},
      {"./x y.MHT", "x y"},
      {"/abs/odd.name.", "odd.name"},
      {"-", "stdin"},
      {"./-", "-"},
  };
  for (const auto& c : cases) EXPECT_EQ(archive_stem(c.path), c.name) << c.path;
}

}  // namespace

#include "directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ScopedTempDir;

// Everything under the current directory, as relative paths.
std::vector<std::string> tree() {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator("."))
    entries.push_back(fs::relative(entry.path(), ".").string());
  std::sort(entries.begin(), entries.end());
  return entries;
}

TEST(DirectoryTest, EmptyDirectoryMakesNothing) {
  const ScopedTempDir dir;
  EXPECT_EQ(make_directory(""), 0);
  EXPECT_TRUE(tree().empty());
}

TEST(DirectoryTest, MakesEveryMissingParent) {
  const ScopedTempDir dir;
  EXPECT_EQ(make_directory("a/b/c"), 0);
  EXPECT_EQ(tree(), (std::vector<std::string>{"a", "a/b", "a/b/c"}));
  // Again, and below an existing one: no error.
  EXPECT_EQ(make_directory("a/b/c"), 0);
  EXPECT_EQ(make_directory("a/b/d"), 0);
  EXPECT_TRUE(fs::is_directory("a/b/d"));
}

// Names reach the file system as they are; nothing is run.
TEST(DirectoryTest, NamesWithBlanksAndShellCharactersAreJustNames) {
  const ScopedTempDir dir;
  const std::string name = "x y/$(touch pwned);touch pwned2|&<>\"'`\\";
  EXPECT_EQ(make_directory(name), 0);
  EXPECT_TRUE(fs::is_directory(name));
  EXPECT_EQ(tree(), (std::vector<std::string>{"x y", name}));
}

}  // namespace

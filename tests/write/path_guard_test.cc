#include "path_guard.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using test_support::Outcome;
using test_support::run_captured;
using test_support::ThrowOnFatal;

struct PathCase {
  std::string path;
  bool safe;
};

const PathCase PATH_CASES[] = {
    {"", true},
    {"page.htm", true},
    {"page_files/image001.png", true},
    {"a/b/c/d.txt", true},
    {"my files/a b.png", true},
    {"a\\..\\b", true},  // a backslash is an ordinary character here
    {"$(touch x);rm -rf y|z&<>\"'`", true},
    {"..foo", true},
    {"foo..", true},
    {"a/..b/c", true},
    {".../x", true},
    {"./a", true},
    {"a/./b", true},
    {"a//b", true},
    {"dir/", true},
    {"/etc/passwd", false},
    {"/", false},
    {"//x", false},
    {"..", false},
    {"../x", false},
    {"a/..", false},
    {"a/../b", false},
    {"a/../../x", false},
    {"a//../b", false},
    {"./../x", false},
    {std::string("a\0b", 3), false},
    {std::string("\0", 1), false},
};

TEST(PathGuardTest, RefusesAbsoluteParentAndNulPaths) {
  for (const PathCase& c : PATH_CASES)
    EXPECT_EQ(is_safe_part_path(c.path), c.safe) << c.path;
}

TEST(PathGuardTest, RefusalIsFatalWithThePathUpToANul) {
  const ThrowOnFatal fatal;
  const struct {
    std::string path, shown;
  } cases[] = {{"/etc/passwd", "/etc/passwd"},
               {"a/../../x", "a/../../x"},
               {std::string("a\0/../b", 7), "a"}};
  for (const auto& c : cases) {
    const Outcome outcome = run_captured([&] { check_part_path(c.path); });
    ASSERT_TRUE(outcome.fatal.has_value());
    EXPECT_EQ(outcome.fatal->status, STATUS_CANNOT_WRITE);
    EXPECT_EQ(outcome.fatal->message,
              "Chyba. Cesta " + c.shown + " vede mimo aktualni adresar.\n");
  }
  const Outcome fine = run_captured([] { check_part_path("a b/c&d.txt"); });
  EXPECT_FALSE(fine.fatal.has_value());
}

}  // namespace

#include "output_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::ScopedTempDir;
using test_support::write_file;

// Everything under `dir`; links are recorded as links, never followed.
void list_into(const fs::path& dir, const fs::path& prefix,
               std::map<std::string, std::string>& entries) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    const fs::path name = prefix / entry.path().filename();
    const fs::file_status status = entry.symlink_status();
    if (fs::is_symlink(status)) {
      entries[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (fs::is_directory(status)) {
      entries[name] = "/";
      list_into(entry.path(), name, entries);
    } else {
      entries[name] = read_file(entry.path());
    }
  }
}

std::map<std::string, std::string> listing(const fs::path& dir) {
  std::map<std::string, std::string> entries;
  list_into(dir, "", entries);
  return entries;
}

// A run directory `root` beside a directory `outside` that nothing may
// touch, with links already planted in the root. The parameter forces the
// walk that kernels without openat2 take.
class OutputDirTest : public testing::TestWithParam<bool> {
 protected:
  OutputDirTest() {
    force_component_walk(GetParam());
    fs::create_directories("outside/kept");
    write_file("outside/sentinel", "outside");
    fs::create_directories("root/images");
    fs::create_directories("root/a");
    write_file("root/file", "f");
    const std::string away = (dir_.path() / "outside").string();
    fs::create_directory_symlink(away, "root/abs");
    fs::create_directory_symlink("..", "root/up");
    fs::create_symlink(away + "/ghost", "root/gone");
    fs::create_symlink("../ghost", "root/gone_up");
    fs::create_directory_symlink("images", "root/img");
    fs::create_directory_symlink("../images", "root/a/back");
    fs::create_symlink("loop", "root/loop");
    fs::create_symlink("missing", "root/dangling");
    root_ = open_output_root("root");
  }
  ~OutputDirTest() override { force_component_walk(false); }

  ScopedTempDir dir_;
  DirectoryFd root_;
};

struct ReachCase {
  const char* dir;
  bool create;
  Reach beneath;        // with openat2
  Reach walk;           // without: every link is refused
  const char* reached;  // where it lands, below the root
};

const ReachCase REACH_CASES[] = {
    {"", true, Reach::reached, Reach::reached, "."},
    {"./a//.", false, Reach::reached, Reach::reached, "a"},
    {"new/deeper", true, Reach::reached, Reach::reached, "new/deeper"},
    {"new2/deeper", false, Reach::failed, Reach::failed, nullptr},
    // Links that stay inside are followed, new directories made at their
    // targets.
    {"img/new", true, Reach::reached, Reach::outside, "images/new"},
    {"a/back/x", true, Reach::reached, Reach::outside, "images/x"},
    // Links that lead out, existing or dangling: refused, nothing made.
    {"abs", false, Reach::outside, Reach::outside, nullptr},
    {"abs/x", true, Reach::outside, Reach::outside, nullptr},
    {"abs/kept/x", true, Reach::outside, Reach::outside, nullptr},
    {"up/x", true, Reach::outside, Reach::outside, nullptr},
    {"gone/x", true, Reach::outside, Reach::outside, nullptr},
    {"gone_up/x/y", true, Reach::outside, Reach::outside, nullptr},
    // What can't be a directory.
    {"file/x", true, Reach::failed, Reach::failed, nullptr},
    {"loop/x", true, Reach::failed, Reach::outside, nullptr},
    {"dangling/x", true, Reach::failed, Reach::outside, nullptr},
};

TEST_P(OutputDirTest, ReachesOnlyBeneathTheRoot) {
  const std::map<std::string, std::string> outside = listing("outside");
  for (const ReachCase& c : REACH_CASES) {
    SCOPED_TRACE(c.dir);
    const std::map<std::string, std::string> before = listing("root");
    const ReachedDirectory got = reach_directory(root_.get(), c.dir, c.create);
    const Reach expected = GetParam() ? c.walk : c.beneath;
    EXPECT_EQ(got.result, expected);
    EXPECT_EQ(got.dir.is_open(), expected == Reach::reached);
    if (got.result == Reach::reached && expected == Reach::reached) {
      struct stat opened {};
      struct stat real {};
      ASSERT_EQ(::fstat(got.dir.get(), &opened), 0);
      ASSERT_EQ(::stat((std::string("root/") + c.reached).c_str(), &real), 0);
      EXPECT_EQ(opened.st_ino, real.st_ino);
    } else {
      EXPECT_EQ(listing("root"), before);
    }
    EXPECT_EQ(listing("outside"), outside);
    EXPECT_FALSE(fs::exists(dir_.path() / "ghost"));
  }
}

INSTANTIATE_TEST_SUITE_P(BothWays, OutputDirTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "ComponentWalk" : "Openat2";
                         });

}  // namespace

#include "output_dir.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
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

struct CacheStep {
  std::string dir;
  Reach beneath;
  Reach walk;
  std::string reached;  // where it lands, below the root
};

std::string levels(const char* name, int count) {
  std::string path(name);
  for (int i = 1; i < count; ++i) path.append("/").append(name);
  return path;
}

// One cache through a run's directories, in an order that moves down, up,
// across and through links: each lands where reach_directory would land,
// whatever came before, also when few descriptors may be kept.
TEST_P(OutputDirTest, CacheLandsWhereReachDirectoryWould) {
  const Reach R = Reach::reached;
  const std::string deep = levels("d", 300);
  const std::string long_name = levels(std::string(250, 'n').c_str(), 17);
  const std::string odd = "x y/$(touch pwned);touch pwned2|&<>\"'`\\";
  const CacheStep steps[] = {
      {"t/a/b/c", R, R, "t/a/b/c"},
      {"t/a/b/c/d", R, R, "t/a/b/c/d"},  // below the last
      {"t/a/b/e", R, R, "t/a/b/e"},      // beside it
      {"t/a", R, R, "t/a"},              // above it
      {"t/a/b/c/d/", R, R, "t/a/b/c/d"},
      {"./t//x/y/.", R, R, "t/x/y"},  // another branch, spelled otherwise
      {deep + "/1", R, R, deep + "/1"},
      {deep + "/2/3", R, R, deep + "/2/3"},
      {levels("d", 150) + "/4", R, R, levels("d", 150) + "/4"},
      {deep + "/1", R, R, deep + "/1"},
      {"img/new/deeper", R, Reach::outside, "images/new/deeper"},
      {"images/new/deeper/x", R, R, "images/new/deeper/x"},
      {"a/back/y", R, Reach::outside, "images/y"},
      {"t/a/b/abs/x", R, R, "t/a/b/abs/x"},  // a name, not the link
      {"abs/x", Reach::outside, Reach::outside, ""},
      {"t/a/b/c/up/x", R, R, "t/a/b/c/up/x"},
      {"file/x", Reach::failed, Reach::failed, ""},
      {"t/file/x", Reach::failed, Reach::failed, ""},
      {"t/a/dangling/x", Reach::failed, Reach::outside, ""},
      {odd, R, R, odd},
      // Longer than the kernel takes as one path: the walk without
      // openat2 would take it, but for the file on the way.
      {"t/file/" + long_name + "/x", Reach::failed, Reach::failed, ""},
      {odd + "/z", R, R, odd + "/z"},
      {"t/a/b/c", R, R, "t/a/b/c"},
  };
  fs::create_directories("root/t/a");
  write_file("root/t/file", "f");
  fs::create_symlink("missing", "root/t/a/dangling");
  const std::map<std::string, std::string> outside = listing("outside");
  for (const rlim_t files : {rlim_t{0}, rlim_t{24}}) {
    SCOPED_TRACE(files);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit fewer = saved;
    if (files != 0) fewer.rlim_cur = files;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &fewer), 0);
    DirectoryCache cache(root_.get());
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    for (const CacheStep& step : steps) {
      SCOPED_TRACE(step.dir.substr(0, 80));
      Reach result = Reach::failed;
      const int dir = cache.reach(step.dir, result);
      const Reach expected = GetParam() ? step.walk : step.beneath;
      EXPECT_EQ(result, expected);
      EXPECT_EQ(dir >= 0, expected == Reach::reached);
      if (result == Reach::reached && expected == Reach::reached) {
        struct stat opened {};
        struct stat real {};
        ASSERT_EQ(::fstat(dir, &opened), 0);
        ASSERT_EQ(::stat(("root/" + step.reached).c_str(), &real), 0);
        EXPECT_EQ(opened.st_ino, real.st_ino);
      }
      EXPECT_EQ(listing("outside"), outside);
    }
  }
  EXPECT_FALSE(fs::exists("root/file/x"));
  EXPECT_FALSE(fs::exists("pwned"));
  EXPECT_FALSE(fs::exists("root/pwned"));
}

INSTANTIATE_TEST_SUITE_P(BothWays, OutputDirTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "ComponentWalk" : "Openat2";
                         });

}  // namespace

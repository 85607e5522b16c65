#include "output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "output_dir.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::ScopedTempDir;
using test_support::write_file;

// Names in the current directory with what they are: a file's bytes, "/"
// for a directory, "->" and the target for a link, "|" for a FIFO.
std::map<std::string, std::string> listing(const fs::path& dir = ".") {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink())
      entries[name] = "-> " + fs::read_symlink(entry.path()).string();
    else if (entry.is_directory())
      entries[name] = "/";
    else if (entry.is_fifo())
      entries[name] = "|";
    else
      entries[name] = read_file(entry.path());
  }
  return entries;
}

class PendingFileTest : public testing::Test {
 protected:
  PendingFileTest() {
    fs::create_directory("run");
    fs::create_directory("outside");
    write_file("outside/victim", "the user's own file");
    fs::current_path("run");
    here_ = open_output_root(".");
  }

  ScopedTempDir dir_;
  DirectoryFd here_;
};

// Whatever stands at the final name is replaced by the new file, never
// opened or followed; a directory there can't be.
TEST_F(PendingFileTest, CommitReplacesWhateverStandsThere) {
  const std::string away = (dir_.path() / "outside").string();
  const struct {
    const char* what;
    std::function<void()> plant;
  } cases[] = {
      {"nothing", [] {}},
      {"a file", [] { write_file("out", "older and longer"); }},
      {"a link out", [&] { fs::create_symlink(away + "/victim", "out"); }},
      {"a dangling link out",
       [&] { fs::create_symlink(away + "/ghost", "out"); }},
      {"a FIFO", [] { ASSERT_EQ(::mkfifo("out", 0666), 0); }},
      {"a link to a directory", [] {
         fs::create_directory("images");
         fs::create_directory_symlink("images", "out");
       }}};
  const mode_t mask = ::umask(022);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.plant();
    PendingFile file(here_.get());
    ASSERT_TRUE(file.is_open());
    ASSERT_TRUE(file.write("new", 3));
    EXPECT_EQ(file.commit("out"), PendingFile::Commit::done);
    struct stat info {};
    ASSERT_EQ(::lstat("out", &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(read_file("out"), "new");
    EXPECT_EQ(listing("../outside"), (std::map<std::string, std::string>{
                                         {"victim", "the user's own file"}}));
    fs::remove_all("out");
    fs::remove_all("images");
    EXPECT_TRUE(listing().empty());
  }
  ::umask(mask);
}

// -n: whatever stands at the name stays, whichever way the file gets there
// (renamed from its own name, or linked from an anonymous one).
TEST_F(PendingFileTest, KeepExistingNeverReplaces) {
  write_file("file", "old");
  fs::create_symlink("../outside/ghost", "link");
  fs::create_directory("dir");
  for (const char* name : {"file", "link", "dir", "free"}) {
    SCOPED_TRACE(name);
    PendingFile named(here_.get());
    ASSERT_TRUE(named.write("new", 3));
    named.keep_existing();
    PendingFile anonymous(here_.get(), PendingFile::InRoot{});
    ASSERT_TRUE(anonymous.write("new", 3));
    anonymous.keep_existing();
    const bool free = std::string(name) == "free";
    EXPECT_EQ(anonymous.commit_into(here_.get(), name),
              free ? PendingFile::Commit::done : PendingFile::Commit::exists);
    EXPECT_EQ(named.commit(name), PendingFile::Commit::exists);
  }
  EXPECT_EQ(listing(),
            (std::map<std::string, std::string>{{"file", "old"},
                                                {"link", "-> ../outside/ghost"},
                                                {"dir", "/"},
                                                {"free", "new"}}));
}

TEST_F(PendingFileTest, FailureLeavesWhatWasThere) {
  fs::create_directory("taken");
  write_file("taken/inner", "i");
  write_file("kept", "old");
  {
    PendingFile file(here_.get());
    ASSERT_TRUE(file.write("new", 3));
    EXPECT_EQ(file.commit("taken"), PendingFile::Commit::cannot_replace);
  }
  {
    PendingFile file(here_.get());
    ASSERT_TRUE(file.write("new", 3));
    // Dropped before its commit, as when a later write fails.
  }
  EXPECT_EQ(listing(), (std::map<std::string, std::string>{{"kept", "old"},
                                                           {"taken", "/"}}));
  EXPECT_EQ(read_file("taken/inner"), "i");
}

// Each signal that ends a run removes the temporary file first, then ends
// the process as the signal would have.
TEST_F(PendingFileTest, SignalsRemoveTheTemporaryFile) {
  write_file("kept", "old");
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
    SCOPED_TRACE(signal_number);
    EXPECT_EXIT(
        {
          // As the tool starts: the action is the default, even where the
          // test runner ignores the signal.
          std::signal(signal_number, SIG_DFL);
          install_signal_cleanup();
          PendingFile file(here_.get());
          if (!file.write("partial", 7) || listing().size() != 2) std::_Exit(3);
          std::raise(signal_number);
          std::_Exit(4);
        },
        testing::KilledBySignal(signal_number), "");
    EXPECT_EQ(listing(), (std::map<std::string, std::string>{{"kept", "old"}}));
  }
}

}  // namespace

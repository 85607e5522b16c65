#include "file_open.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

TEST(FileOpenTest, OpensOrFailsWithTheErrorOfTheOpen) {
  test_support::ScopedTempDir dir;
  test_support::write_file("here", "x");
  const int fd = open_retrying("here", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  char c = 0;
  EXPECT_EQ(::read(fd, &c, 1), 1);
  EXPECT_EQ(c, 'x');
  ::close(fd);
  errno = 0;
  EXPECT_EQ(open_retrying("missing", O_RDONLY), -1);
  EXPECT_EQ(errno, ENOENT);

  const int root = open_retrying(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(root, 0);
  const int made =
      openat_retrying(root, "made", O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(made, 0);
  ::close(made);
  errno = 0;
  EXPECT_EQ(openat_retrying(root, "made", O_WRONLY | O_CREAT | O_EXCL, 0600),
            -1);
  EXPECT_EQ(errno, EEXIST);
  ::close(root);
}

TEST(FileOpenTest, AnUnnamedFileHoldsBytesAndNoNameInTheDirectory) {
  test_support::ScopedTempDir dir;
  const int root = open_retrying(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(root, 0);
  const int fd = open_unnamed_file(root);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::pwrite(fd, "bytes", 5, 0), 5);
  char back[5] = {};
  EXPECT_EQ(::pread(fd, back, 5, 0), 5);
  EXPECT_EQ(std::string(back, 5), "bytes");
  EXPECT_TRUE(std::filesystem::is_empty("."));
  ::close(fd);
  ::close(root);
  // No directory there: none is made, and nothing stands anywhere.
  test_support::write_file("plain", "x");
  const int plain = open_retrying("plain", O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(open_unnamed_file(plain), -1);
  ::close(plain);
}

}  // namespace

#include "stream_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "test_support.h"

namespace {

using test_support::ScopedTempDir;
using test_support::write_file;

// Every byte of `fd` from its start.
std::string contents(int fd) {
  std::string bytes;
  char block[4096];
  off_t at = 0;
  for (;;) {
    const ssize_t got = ::pread(fd, block, sizeof block, at);
    if (got <= 0) return bytes;
    bytes.append(block, static_cast<std::size_t>(got));
    at += got;
  }
}

std::size_t entries_in(const char* dir) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator(dir))
    ++count;
  return count;
}

class StreamCopyTest : public testing::Test {
 protected:
  void SetUp() override {
    ::mkdir("out", 0755);
    dir_ = ::open("out", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir_, 0);
  }
  void TearDown() override { ::close(dir_); }

  ScopedTempDir temp_;
  int dir_ = -1;
};

TEST_F(StreamCopyTest, PipesOfEverySizeArriveWholeAndNamedNowhere) {
  // Sizes around the pipe's own buffer and the copy's block.
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{1}, std::size_t{65536},
        std::size_t{(1 << 20) + 3}, std::size_t{(3 << 20) + 17}}) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
      data[i] = static_cast<char>(i * 7 + i / 251);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::thread writer([&] {
      for (std::size_t at = 0; at < data.size();) {
        const ssize_t done =
            ::write(ends[1], data.data() + at,
                    std::min<std::size_t>(data.size() - at, 100000));
        if (done <= 0) break;
        at += static_cast<std::size_t>(done);
      }
      ::close(ends[1]);
    });
    const StreamCopy copy = copy_to_unnamed_file(ends[0], dir_);
    writer.join();
    ::close(ends[0]);
    ASSERT_EQ(copy.failure, CopyFailure::none) << size;
    ASSERT_GE(copy.fd, 0);
    EXPECT_EQ(contents(copy.fd), data) << size;
    EXPECT_EQ(entries_in("out"), 0U) << size;
    ::close(copy.fd);
  }
}

TEST_F(StreamCopyTest, ANonBlockingPipeIsWaitedFor) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_NONBLOCK), 0);
  std::thread writer([&] {
    // Empty at first: the copy finds nothing to read before these come.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(::write(ends[1], "late", 4), 4);
    ::close(ends[1]);
  });
  const StreamCopy copy = copy_to_unnamed_file(ends[0], dir_);
  writer.join();
  ::close(ends[0]);
  ASSERT_EQ(copy.failure, CopyFailure::none);
  EXPECT_EQ(contents(copy.fd), "late");
  ::close(copy.fd);
}

TEST_F(StreamCopyTest, AFileIsCopiedFromWhereItStands) {
  write_file("input", "skipped|kept bytes");
  const int in = ::open("input", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::lseek(in, 8, SEEK_SET), 8);
  const StreamCopy copy = copy_to_unnamed_file(in, dir_);
  ::close(in);
  ASSERT_EQ(copy.failure, CopyFailure::none);
  EXPECT_EQ(contents(copy.fd), "kept bytes");
  ::close(copy.fd);
}

TEST_F(StreamCopyTest, FailuresSayWhichSideAndLeaveNothing) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  // The write end can't be read.
  StreamCopy copy = copy_to_unnamed_file(ends[1], dir_);
  EXPECT_EQ(copy.failure, CopyFailure::read);
  EXPECT_EQ(copy.fd, -1);
  // No directory to make the copy in.
  write_file("plain", "x");
  const int not_dir = ::open("plain", O_RDONLY | O_CLOEXEC);
  copy = copy_to_unnamed_file(ends[0], not_dir);
  EXPECT_EQ(copy.failure, CopyFailure::cannot_create);
  EXPECT_EQ(copy.fd, -1);
  ::close(not_dir);
  ::close(ends[0]);
  ::close(ends[1]);
  EXPECT_EQ(entries_in("out"), 0U);
}

}  // namespace

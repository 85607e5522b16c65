#include "stream_copy.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <memory>

#include "file_open.h"

namespace {

constexpr std::size_t COPY_BLOCK = std::size_t{1} << 20;

// A stream left non-blocking by whoever passed it on is waited for here.
bool wait_readable(int fd) {
  pollfd wanted{fd, POLLIN, 0};
  while (::poll(&wanted, 1, -1) < 0)
    if (errno != EINTR) return false;
  return true;
}

CopyFailure copy_blocks(int from, int to) {
  // A pipe moves into the file without passing through this process; any
  // other stream, or a splice that fails, goes by read and write, which
  // then tell a failed read from a failed write.
  bool splicing = true;
  std::unique_ptr<char[]> buffer;
  for (;;) {
    if (splicing) {
      const ssize_t moved =
          ::splice(from, nullptr, to, nullptr, COPY_BLOCK, SPLICE_F_MOVE);
      if (moved > 0) continue;
      if (moved == 0) return CopyFailure::none;
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        if (!wait_readable(from)) return CopyFailure::read;
        continue;
      }
      splicing = false;
    }
    if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(COPY_BLOCK);
    const ssize_t got = ::read(from, buffer.get(), COPY_BLOCK);
    if (got == 0) return CopyFailure::none;
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN && wait_readable(from)) continue;
      return CopyFailure::read;
    }
    if (!write_all(to, buffer.get(), static_cast<std::size_t>(got)))
      return CopyFailure::write;
  }
}

}  // namespace

StreamCopy copy_to_unnamed_file(int from, int dir) {
  StreamCopy copy;
  const int fd = open_unnamed_file(dir);
  if (fd < 0) {
    copy.failure = CopyFailure::cannot_create;
    return copy;
  }
  copy.failure = copy_blocks(from, fd);
  if (copy.failure != CopyFailure::none) {
    ::close(fd);
    return copy;
  }
  copy.fd = fd;
  return copy;
}

#include "stream_copy.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <memory>

#include "file_open.h"

namespace {

constexpr std::size_t COPY_BLOCK = std::size_t{1} << 20;

// Where O_TMPFILE is missing: a hidden name, made exclusively (a link
// planted there is never opened) and removed at once, with the signals that
// end a run held back in between so that the name can't outlive it.
int create_hidden_then_unlink(int dir) {
  sigset_t ending;
  sigset_t previous;
  sigemptyset(&ending);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    sigaddset(&ending, signal_number);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, ".mimeunpack-input-%ld-%d",
                  static_cast<long>(::getpid()), attempt);
    ::pthread_sigmask(SIG_BLOCK, &ending, &previous);
    const int fd = openat_retrying(
        dir, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int error = errno;
    if (fd >= 0) ::unlinkat(dir, name, 0);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (fd >= 0) return fd;
    if (error != EEXIST) return -1;
  }
  return -1;
}

int create_unnamed(int dir) {
  const int fd =
      openat_retrying(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  return fd >= 0 ? fd : create_hidden_then_unlink(dir);
}

// A stream left non-blocking by whoever passed it on is waited for here.
bool wait_readable(int fd) {
  pollfd wanted{fd, POLLIN, 0};
  while (::poll(&wanted, 1, -1) < 0)
    if (errno != EINTR) return false;
  return true;
}

bool write_all(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t done = ::write(fd, bytes, count);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    count -= static_cast<std::size_t>(done);
  }
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
  const int fd = create_unnamed(dir);
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

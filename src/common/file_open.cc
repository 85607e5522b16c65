#include "file_open.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <initializer_list>

int open_retrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int openat_retrying(int dir, const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::openat(dir, path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool write_all(int fd, const void* bytes, std::size_t count) {
  const char* next = static_cast<const char*>(bytes);
  while (count > 0) {
    const ssize_t done = ::write(fd, next, count);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    next += done;
    count -= static_cast<std::size_t>(done);
  }
  return true;
}

namespace {

int open_hidden_then_unlink(int dir) {
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

}  // namespace

int open_unnamed_file(int dir) {
  const int fd =
      openat_retrying(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  return fd >= 0 ? fd : open_hidden_then_unlink(dir);
}

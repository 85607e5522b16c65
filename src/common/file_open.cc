#include "file_open.h"

#include <fcntl.h>

#include <cerrno>

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

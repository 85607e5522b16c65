#include "output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

// What a signal handler needs to remove the file being written: read only
// when `cleanup_armed` is set, which is set after and cleared before them.
volatile std::sig_atomic_t cleanup_armed = 0;
int cleanup_dir = -1;
char cleanup_name[48];

// The signals that end a run from outside; SIGXFSZ is the one a file-size
// limit sends when a write goes past it.
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

extern "C" void remove_pending_and_reraise(int signal_number) {
  const int saved = errno;
  if (cleanup_armed != 0) ::unlinkat(cleanup_dir, cleanup_name, 0);
  // Ended by the signal as if it had never been caught: blocked while this
  // handler runs, it arrives with the default action once it returns.
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
  errno = saved;
}

void install_cleanup_once() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  install_signal_cleanup();
}

void arm_cleanup(int dir, const char* name) {
  cleanup_dir = dir;
  std::strcpy(cleanup_name, name);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  cleanup_armed = 1;
}

void disarm_cleanup() {
  cleanup_armed = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace

PendingFile::PendingFile(int dir) : dir_(dir) {
  install_cleanup_once();
  static unsigned long serial = 0;
  static const long pid = ::getpid();
  // Exclusive: a name someone planted (a link, say) is never opened; the
  // next serial is tried instead.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::snprintf(name_, sizeof name_, ".mimeunpack-%ld-%lu", pid, serial++);
    arm_cleanup(dir_, name_);
    pending_ = true;
    do {
      fd_ =
          ::openat(dir_, name_,
                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ >= 0) return;
    pending_ = false;
    disarm_cleanup();
    if (errno != EEXIST) return;
  }
}

PendingFile::~PendingFile() { discard(); }

// Not const: it changes the file, if not the object.
// NOLINTNEXTLINE(readability-make-member-function-const)
bool PendingFile::write(const void* bytes, std::size_t count) {
  const char* p = static_cast<const char*>(bytes);
  while (count > 0) {
    const ssize_t done = ::write(fd_, p, count);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    p += done;
    count -= static_cast<std::size_t>(done);
  }
  return true;
}

PendingFile::Commit PendingFile::commit(const char* name) {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) {
    discard();
    return Commit::write_failed;
  }
  if (::renameat(dir_, name_, dir_, name) != 0) {
    discard();
    return Commit::cannot_replace;
  }
  disarm_cleanup();
  pending_ = false;
  return Commit::done;
}

void PendingFile::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (pending_) {
    ::unlinkat(dir_, name_, 0);
    disarm_cleanup();
    pending_ = false;
  }
}

// Only where the signal's action is the default: an ignored SIGHUP (nohup)
// stays ignored, and a handler someone else installed stays theirs.
void install_signal_cleanup() {
  for (const int signal_number : CLEANUP_SIGNALS) {
    struct sigaction current {};
    if (::sigaction(signal_number, nullptr, &current) != 0 ||
        current.sa_handler != SIG_DFL)
      continue;
    struct sigaction action {};
    action.sa_handler = remove_pending_and_reraise;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

const char* pending_file_name() {
  return cleanup_armed != 0 ? cleanup_name : "";
}

#include "output_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

// A fatal condition ends the process with exit(): a body's temporary file
// under a hidden name goes with it.
extern "C" void remove_pending_at_exit() {
  if (cleanup_armed != 0) ::unlinkat(cleanup_dir, cleanup_name, 0);
}

void install_cleanup_once() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  install_signal_cleanup();
  std::atexit(remove_pending_at_exit);
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

unsigned long next_serial() {
  static unsigned long serial = 0;
  return serial++;
}

void make_hidden_name(char* name, std::size_t size) {
  static const long pid = ::getpid();
  std::snprintf(name, size, ".mimeunpack-%ld-%lu", pid, next_serial());
}

}  // namespace

PendingFile::PendingFile(int dir) : dir_(dir) {
  install_cleanup_once();
  create_named();
}

PendingFile::PendingFile(int root, InRoot /*unused*/) : dir_(root) {
  if (root < 0) return;
  install_cleanup_once();
  do {
    fd_ = ::openat(root, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ >= 0) return;
  create_named();
  if (fd_ >= 0) return;
  // A read-only output directory may still hold writable ones.
  fd_ = ::memfd_create("mimeunpack", MFD_CLOEXEC);
}

// Exclusive: a name someone planted (a link, say) is never opened; the next
// serial is tried instead.
void PendingFile::create_named() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    make_hidden_name(name_, sizeof name_);
    arm_cleanup(dir_, name_);
    pending_ = true;
    do {
      fd_ = ::openat(dir_, name_,
                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
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

// Gives the file a hidden name in `dir`, where it then stands pending: a
// link to the anonymous file, or a rename of the named one.
bool PendingFile::link_into(int dir) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[sizeof name_];
    make_hidden_name(name, sizeof name);
    int done;
    if (pending_) {
      done = ::renameat2(dir_, name_, dir, name, RENAME_NOREPLACE);
    } else {
      char path[32];
      std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd_);
      done = ::linkat(AT_FDCWD, path, dir, name, AT_SYMLINK_FOLLOW);
    }
    if (done != 0 && errno == EEXIST) continue;
    if (done != 0) return false;
    dir_ = dir;
    std::memcpy(name_, name, sizeof name_);
    arm_cleanup(dir_, name_);
    pending_ = true;
    return true;
  }
  return false;
}

PendingFile::Commit PendingFile::commit_into(int dir, const char* name) {
  if (link_into(dir)) return commit(name);
  return copy_into(dir, name);
}

// Another file system (or no /proc to link through): the bytes are copied
// into a new temporary file in `dir`.
PendingFile::Commit PendingFile::copy_into(int dir, const char* name) {
  if (pending_) {
    // Only one temporary name is cleaned up on a signal: this one goes now,
    // the open file keeps the bytes.
    ::unlinkat(dir_, name_, 0);
    disarm_cleanup();
    pending_ = false;
  }
  PendingFile target(dir);
  if (!target.is_open()) {
    discard();
    return Commit::cannot_create;
  }
  off_t offset = 0;
  for (;;) {
    const ssize_t sent = ::sendfile(target.fd_, fd_, &offset, 1 << 30);
    if (sent > 0) continue;
    if (sent < 0 && errno == EINTR) continue;
    if (sent == 0) break;
    target.discard();
    discard();
    return Commit::write_failed;
  }
  discard();
  return target.commit(name);
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

HeldFileSizeSignal::HeldFileSizeSignal() {
  sigset_t file_size;
  sigemptyset(&file_size);
  sigaddset(&file_size, SIGXFSZ);
  held_ = ::sigprocmask(SIG_BLOCK, &file_size, &saved_) == 0;
}

void HeldFileSizeSignal::release() {
  if (!held_) return;
  held_ = false;
  ::sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

const char* pending_file_name() {
  return cleanup_armed != 0 ? cleanup_name : "";
}

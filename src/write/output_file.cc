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

#include "file_open.h"
#include "messages.h"

namespace {

// What a signal handler needs to remove the file being written: read only
// when `cleanup_armed` is set, which is set after and cleared before them.
volatile std::sig_atomic_t cleanup_armed = 0;
int cleanup_dir = -1;
char cleanup_name[48];

// The signals that end a run from outside; SIGXFSZ is the one a file-size
// limit sends when a write goes past it.
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

// A body's write past a file-size limit, held back (see HeldFileSizeSignal)
// by the handler rather than by the signal mask: no system call per part.
volatile std::sig_atomic_t size_signal_held = 0;
volatile std::sig_atomic_t size_signal_deferred = 0;

extern "C" void remove_pending_and_reraise(int signal_number) {
  const int saved = errno;
  if (signal_number == SIGXFSZ && size_signal_held != 0) {
    size_signal_deferred = 1;  // the write fails with EFBIG meanwhile
    errno = saved;
    return;
  }
  // Lines held for standard output go out before the process ends.
  if (!flush_output_on_signal(signal_number)) {
    errno = saved;
    return;
  }
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
  fd_ = openat_retrying(root, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
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
    fd_ = openat_retrying(
        dir_, name_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
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
  return write_all(fd_, bytes, count);
}

PendingFile::Commit PendingFile::commit(const char* name) {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) {
    discard();
    return Commit::write_failed;
  }
  const unsigned flags = keep_existing_ ? RENAME_NOREPLACE : 0;
  if (::renameat2(dir_, name_, dir_, name, flags) != 0) {
    const bool exists = keep_existing_ && errno == EEXIST;
    discard();
    return exists ? Commit::exists : Commit::cannot_replace;
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

namespace {

// Links the anonymous file `fd` at `name` in `dir`: 0, or why not.
int link_anonymous(int fd, int dir, const char* name) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, path, dir, name, AT_SYMLINK_FOLLOW) == 0 ? 0
                                                                     : errno;
}

}  // namespace

PendingFile::Commit PendingFile::commit_into(int dir, const char* name) {
  if (!pending_ && fd_ >= 0) {
    // Nothing at the name, as for most parts: the file takes it at once,
    // with no name of its own in between.
    const int error = link_anonymous(fd_, dir, name);
    if (error == 0) return close_linked(dir, name);
    if (error == EEXIST && keep_existing_) {
      discard();
      return Commit::exists;
    }
    if (error != EEXIST) return copy_into(dir, name, error == EXDEV);
  }
  if (link_into(dir)) return commit(name);
  return copy_into(dir, name, false);
}

// Linked at `name` in `dir` already: a close that fails takes it away
// again (nothing stood there before).
PendingFile::Commit PendingFile::close_linked(int dir, const char* name) {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) {
    ::unlinkat(dir, name, 0);
    return Commit::write_failed;
  }
  return Commit::done;
}

// Another file system (or no /proc to link through): the bytes are copied
// into a new temporary file in `dir`, anonymous where its file system
// allows (`anonymous`: links through /proc work), so that nothing named
// is left behind if the process is killed.
PendingFile::Commit PendingFile::copy_into(int dir, const char* name,
                                           bool anonymous) {
  if (pending_) {
    // Only one temporary name is cleaned up on a signal: this one goes now,
    // the open file keeps the bytes.
    ::unlinkat(dir_, name_, 0);
    disarm_cleanup();
    pending_ = false;
  }
  PendingFile target(dir, anonymous ? Where::anonymous : Where::named);
  target.keep_existing_ = keep_existing_;
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
  if (target.pending_) return target.commit(name);
  const int error = link_anonymous(target.fd_, dir, name);
  if (error == 0) return target.close_linked(dir, name);
  if (error == EEXIST && target.link_into(dir)) return target.commit(name);
  return Commit::cannot_create;
}

PendingFile::PendingFile(int dir, Where where) : dir_(dir) {
  install_cleanup_once();
  if (where == Where::anonymous) {
    fd_ = openat_retrying(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) return;
  }
  create_named();
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

HeldFileSizeSignal::HeldFileSizeSignal() : held_(true) {
  size_signal_held = size_signal_held + 1;
}

void HeldFileSizeSignal::release() {
  if (!held_) return;
  held_ = false;
  size_signal_held = size_signal_held - 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (size_signal_held == 0 && size_signal_deferred != 0) {
    size_signal_deferred = 0;
    std::raise(SIGXFSZ);
  }
}

#include "output_dir.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "messages.h"

#if defined(SYS_openat2) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define MIMEUNPACK_HAVE_OPENAT2 1
#endif

DirectoryFd::DirectoryFd(DirectoryFd&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      owns_(std::exchange(other.owns_, false)) {}

DirectoryFd& DirectoryFd::operator=(DirectoryFd&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
    owns_ = std::exchange(other.owns_, false);
  }
  return *this;
}

DirectoryFd::~DirectoryFd() { release(); }

void DirectoryFd::release() {
  if (owns_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
  owns_ = false;
}

namespace {

bool walk_forced = false;
bool kernel_lacks_openat2 = false;

constexpr int DIRECTORY_FLAGS = O_PATH | O_DIRECTORY | O_CLOEXEC;

// Calls `visit(name, end)` for each component of `dir` that names
// something: empty and "." components are left out. `end` is the offset
// just past the component. Stops early when `visit` returns false.
template <class Visit>
bool for_each_component(std::string_view dir, Visit&& visit) {
  std::size_t start = 0;
  while (start <= dir.size()) {
    std::size_t slash = dir.find('/', start);
    if (slash == std::string_view::npos) slash = dir.size();
    const std::string_view name = dir.substr(start, slash - start);
    if (!name.empty() && name != "." && !visit(name, slash)) return false;
    start = slash + 1;
  }
  return true;
}

// A directory entry opened without following a link at its name.
int open_child(int parent, const std::string& name) {
  int fd;
  do {
    fd = ::openat(parent, name.c_str(), DIRECTORY_FLAGS | O_NOFOLLOW);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool is_link(int parent, const std::string& name) {
  struct stat info {};
  return ::fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(info.st_mode);
}

// Makes `name` inside `parent` (an existing one is fine) and opens it.
int make_child(int parent, const std::string& name) {
  if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
  return open_child(parent, name);
}

// Every component opened by itself, no link followed: a link anywhere on
// the way is refused, since without the kernel's help it can't be told
// where it leads. Links only stand among existing components, all of which
// come before the first one made, so nothing is made when one is refused.
ReachedDirectory reach_by_walk(int root, std::string_view dir, bool create) {
  ReachedDirectory reached{Reach::reached, DirectoryFd::borrowed(root), true};
  for_each_component(dir, [&](std::string_view component, std::size_t) {
    const std::string name(component);
    const int parent = reached.dir.get();
    int fd = open_child(parent, name);
    if (fd < 0 && errno == ENOENT && create) fd = make_child(parent, name);
    if (fd >= 0) {
      reached.dir = DirectoryFd::owned(fd);
      return true;
    }
    reached.result = is_link(parent, name) ? Reach::outside : Reach::failed;
    reached.dir = DirectoryFd();
    return false;
  });
  return reached;
}

#ifdef MIMEUNPACK_HAVE_OPENAT2

// `path` resolved by the kernel beneath `root`: -1 with EXDEV when it would
// leave the root (an absolute link, or ".." above it), ENOSYS without
// openat2. With `no_links`, any link on the way gives ELOOP.
int open_beneath(int root, const std::string& path, bool no_links = false) {
  open_how how{};
  how.flags = static_cast<std::uint64_t>(DIRECTORY_FLAGS);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS |
                (no_links ? RESOLVE_NO_SYMLINKS : 0);
  for (int attempt = 0;; ++attempt) {
    const long fd =
        ::syscall(SYS_openat2, root, path.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    // EAGAIN: a rename elsewhere raced with resolving ".."; try again.
    if (errno != EINTR && (errno != EAGAIN || attempt > 16)) return -1;
  }
}

ReachedDirectory reach_beneath(int root, std::string_view dir, bool create) {
  ReachedDirectory reached;
  const std::string whole(dir);
  // Most directories hold no link on the way; knowing that lets the
  // directory be kept open for later parts.
  int fd = open_beneath(root, whole, true);
  if (fd >= 0) return {Reach::reached, DirectoryFd::owned(fd), true};
  if (errno == ELOOP) fd = open_beneath(root, whole);
  if (fd >= 0) return {Reach::reached, DirectoryFd::owned(fd)};
  // Seccomp filters in some containers answer EPERM for calls they don't
  // know; either way the walk does without the kernel's help.
  if (errno == ENOSYS || errno == EPERM) {
    kernel_lacks_openat2 = true;
    return reach_by_walk(root, dir, create);
  }
  if (errno == EXDEV) reached.result = Reach::outside;
  if (errno != ENOENT || !create) return reached;

  // Something is missing. First the deepest directory that exists, every
  // link on the way judged from the root; only then anything is made.
  reached = {Reach::reached, DirectoryFd::borrowed(root)};
  std::size_t made_from = 0;
  for_each_component(dir, [&](std::string_view component, std::size_t end) {
    fd = open_beneath(root, whole.substr(0, end));
    if (fd >= 0) {
      reached.dir = DirectoryFd::owned(fd);
      made_from = end;
      return true;
    }
    if (errno != ENOENT) {
      reached.result = errno == EXDEV ? Reach::outside : Reach::failed;
      reached.dir = DirectoryFd();
    } else {
      made_from = end - component.size();
    }
    return false;
  });
  if (reached.result != Reach::reached) return reached;
  // The rest is new: each directory made inside its parent and opened
  // without following a link (a dangling one in the way can't be made).
  for_each_component(
      dir.substr(made_from), [&](std::string_view component, std::size_t) {
        fd = make_child(reached.dir.get(), std::string(component));
        if (fd < 0) {
          reached.result = Reach::failed;
          reached.dir = DirectoryFd();
          return false;
        }
        reached.dir = DirectoryFd::owned(fd);
        return true;
      });
  return reached;
}

#endif

}  // namespace

DirectoryFd open_output_root(const char* path) {
  int fd;
  do {
    fd = ::open(path, DIRECTORY_FLAGS);
  } while (fd < 0 && errno == EINTR);
  return fd >= 0 ? DirectoryFd::owned(fd) : DirectoryFd();
}

ReachedDirectory reach_directory(int root, std::string_view dir, bool create) {
  bool empty = true;
  for_each_component(dir, [&](std::string_view, std::size_t) {
    empty = false;
    return false;
  });
  if (empty) return {Reach::reached, DirectoryFd::borrowed(root), true};
  const NoMemoryScope scope(NoMemoryMessage::directory);
#ifdef MIMEUNPACK_HAVE_OPENAT2
  if (!walk_forced && !kernel_lacks_openat2)
    return reach_beneath(root, dir, create);
#endif
  return reach_by_walk(root, dir, create);
}

DirectoryCache::DirectoryCache(int root) : root_(root) {
  // Kept directories hold descriptors: a quarter of what the process may
  // open at most, so that files can always still be opened.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur / 4 < capacity_)
    capacity_ = static_cast<std::size_t>(files.rlim_cur / 4);
}

int DirectoryCache::reach(const std::string& dir, Reach& result) {
  const auto kept = open_.find(dir);
  if (kept != open_.end()) {
    result = Reach::reached;
    return kept->second.get();
  }
  last_ = reach_directory(root_, dir, true);
  result = last_.result;
  if (result != Reach::reached || !last_.link_free || capacity_ == 0 ||
      !last_.dir.is_open())
    return last_.dir.get();
  if (open_.size() >= capacity_) open_.clear();
  const NoMemoryScope scope(NoMemoryMessage::directory);
  return open_.emplace(dir, std::move(last_.dir)).first->second.get();
}

std::string_view leaf_name(std::string_view path) {
  return path.substr(path.rfind('/') + 1);
}

void force_component_walk(bool on) { walk_forced = on; }

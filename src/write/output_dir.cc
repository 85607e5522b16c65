#include "output_dir.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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
  // link on the way judged from the root; only then anything is made. What
  // exists is a run of leading levels: found by halves.
  std::vector<std::size_t> ends;
  for_each_component(dir, [&](std::string_view, std::size_t end) {
    ends.push_back(end);
    return true;
  });
  reached = {Reach::reached, DirectoryFd::borrowed(root)};
  std::size_t exists = 0;             // levels known to exist
  std::size_t missing = ends.size();  // the shallowest level known not to
  int missing_errno = ENOENT;
  while (missing - exists > 1) {
    const std::size_t middle = exists + (missing - exists) / 2;
    fd = open_beneath(root, whole.substr(0, ends[middle - 1]));
    if (fd >= 0) {
      reached.dir = DirectoryFd::owned(fd);
      exists = middle;
    } else {
      missing_errno = errno;
      missing = middle;
    }
  }
  if (missing_errno != ENOENT) {
    reached.result = missing_errno == EXDEV ? Reach::outside : Reach::failed;
    reached.dir = DirectoryFd();
    return reached;
  }
  const std::size_t made_from =
      exists == 0 ? 0 : std::min(dir.size(), ends[exists - 1] + 1);
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
  trail_capacity_ =
      std::max<std::size_t>(1, std::min(trail_capacity_, capacity_));
}

int DirectoryCache::reach(const std::string& dir, Reach& result) {
  const auto kept = open_.find(dir);
  if (kept != open_.end()) {
    result = Reach::reached;
    return kept->second.get();
  }
  const NoMemoryScope scope(NoMemoryMessage::directory);
  last_ = ReachedDirectory();
  std::string want;
  std::vector<std::size_t> ends;
  for_each_component(dir, [&](std::string_view name, std::size_t) {
    if (!want.empty()) want += '/';
    want.append(name);
    ends.push_back(want.size());
    return true;
  });
  if (ends.empty()) {
    result = Reach::reached;
    return root_;
  }
  // Too long for the kernel as a whole: it fails as it always has.
  if (dir.size() >= PATH_MAX) return fall_back(dir, result);

  // The levels this directory shares with the trail, whole components.
  std::size_t same = 0;
  std::size_t equal = 0;
  const std::size_t shorter = std::min(want.size(), trail_.size());
  while (equal < shorter && want[equal] == trail_[equal]) ++equal;
  const std::size_t shared = std::min(levels_.size(), ends.size());
  while (same < shared && ends[same] <= equal &&
         levels_[same].end == ends[same])
    ++same;
  const bool whole_trail = same == levels_.size();
  while (!open_levels_.empty() && open_levels_.back() >= same)
    open_levels_.pop_back();
  levels_.resize(same);
  trail_.resize(same == 0 ? 0 : levels_[same - 1].end);

  // Start from the deepest directory open on the way: a level of the trail,
  // or the trail's last directory, kept among the others.
  std::size_t level = 0;
  int from = root_;
  if (!open_levels_.empty()) {
    level = open_levels_.back() + 1;
    from = levels_[open_levels_.back()].dir.get();
  }
  if (whole_trail && level < same && !last_key_.empty()) {
    const auto last = open_.find(last_key_);
    if (last != open_.end()) {
      level = same;
      from = last->second.get();
    }
  }
  last_key_.clear();
  const std::size_t target = ends.size();
  // What was reached on the way stays the trail: no link was followed.
  const auto settle = [&] {
    trail_.assign(want, 0, levels_.empty() ? 0 : levels_.back().end);
    return fall_back(dir, result);
  };
  if (level == target) {
    result = Reach::reached;
    return from;
  }
#ifdef MIMEUNPACK_HAVE_OPENAT2
  bool several = !walk_forced && !kernel_lacks_openat2;
#endif
  while (level < target) {
    const std::size_t begin = level == 0 ? 0 : ends[level - 1] + 1;
#ifdef MIMEUNPACK_HAVE_OPENAT2
    if (target - level > 1 && several) {
      // Several levels at once when they exist (a sibling's tree); else
      // the parent, for a part whose own directory is new.
      int fd = open_beneath(from, want.substr(begin), true);
      std::size_t got = target;
      if (fd < 0 && errno == ENOENT && target - level > 2) {
        fd = open_beneath(from, want.substr(begin, ends[target - 2] - begin),
                          true);
        got = target - 1;
      }
      if (fd >= 0) {
        while (level + 1 < got) set_level(level++, ends, DirectoryFd());
        set_level(level++, ends, DirectoryFd::owned(fd));
        from = fd;
        continue;
      }
      if (errno != ENOENT) return settle();
      several = false;  // what is missing is made level by level
    }
#endif
    // One level at a time, made where missing; a link or anything else
    // that is no directory is left to reach_directory to judge.
    const std::string name = want.substr(begin, ends[level] - begin);
    int fd = open_child(from, name);
    if (fd < 0 && errno == ENOENT) fd = make_child(from, name);
    if (fd < 0) return settle();
    set_level(level++, ends, DirectoryFd::owned(fd));
    from = fd;
  }
  result = Reach::reached;
  trail_.assign(want, 0, ends[target - 1]);
  if (capacity_ == 0) return from;
  // The directory itself is kept among the others, not in the trail.
  open_levels_.pop_back();
  DirectoryFd reached = std::move(levels_.back().dir);
  if (open_.size() >= capacity_) open_.clear();
  last_key_ = dir;
  return open_.emplace(dir, std::move(reached)).first->second.get();
}

void DirectoryCache::set_level(std::size_t level,
                               const std::vector<std::size_t>& ends,
                               DirectoryFd dir) {
  if (level == levels_.size()) levels_.push_back({ends[level], DirectoryFd()});
  const bool open = dir.is_open();
  levels_[level].dir = std::move(dir);
  if (!open) return;
  open_levels_.push_back(level);
  if (open_levels_.size() > trail_capacity_) {
    levels_[open_levels_.front()].dir = DirectoryFd();
    open_levels_.pop_front();
  }
}

int DirectoryCache::fall_back(const std::string& dir, Reach& result) {
  last_ = reach_directory(root_, dir, true);
  result = last_.result;
  return last_.dir.get();
}

std::string_view leaf_name(std::string_view path) {
  return path.substr(path.rfind('/') + 1);
}

void force_component_walk(bool on) { walk_forced = on; }

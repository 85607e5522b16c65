// Reaching a part's directory beneath the output directory without ever
// leaving it, even through links that were there before the run.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// An open directory, closed with its owner; or a borrowed one (the root).
class DirectoryFd {
 public:
  DirectoryFd() = default;
  static DirectoryFd owned(int fd) { return {fd, true}; }
  static DirectoryFd borrowed(int fd) { return {fd, false}; }
  DirectoryFd(DirectoryFd&& other) noexcept;
  DirectoryFd& operator=(DirectoryFd&& other) noexcept;
  DirectoryFd(const DirectoryFd&) = delete;
  DirectoryFd& operator=(const DirectoryFd&) = delete;
  ~DirectoryFd();

  [[nodiscard]] int get() const { return fd_; }
  [[nodiscard]] bool is_open() const { return fd_ >= 0; }

 private:
  DirectoryFd(int fd, bool owns) : fd_(fd), owns_(owns) {}
  void release();
  int fd_ = -1;
  bool owns_ = false;
};

// Opens the directory that every part is written beneath (".": the current
// directory); not open when it can't be.
DirectoryFd open_output_root(const char* path);

enum class Reach {
  reached,  // the directory is open
  outside,  // a link on the way leads out of the root; nothing was made
  failed,   // it is missing and can't be made, or it is no directory
};

struct ReachedDirectory {
  Reach result = Reach::failed;
  DirectoryFd dir;         // open only when reached
  bool link_free = false;  // reached without following any link
};

// Opens `dir` (relative, without "..", as check_part_path lets through)
// beneath `root`. A link that stays beneath the root is followed; one that
// would leave it is refused before anything is made. With `create`, missing
// directories are made (0777 less the umask), each inside its parent.
ReachedDirectory reach_directory(int root, std::string_view dir, bool create);

// The directories of one root's parts, made where missing and kept open for
// the parts that follow, so that most parts cost no lookup. Only those
// reached without following a link are kept: writing a part's file can
// replace a link, never a directory, so what is kept stays what it was.
// A directory not kept yet is reached from the deepest directory still open
// on the way to the last one (not from the root), so deep trees cost what
// their paths' lengths do.
class DirectoryCache {
 public:
  explicit DirectoryCache(int root);

  // reach_directory(root, dir, true) or a directory kept from before: the
  // descriptor (-1 unless reached), valid until the next call.
  int reach(const std::string& dir, Reach& result);

 private:
  struct Level {
    std::size_t end = 0;  // just past this component in trail_
    DirectoryFd dir;      // open or not
  };
  // Sets the directory of `level` (ending at ends[level]), one past the
  // trail's last at most; at most trail_capacity_ levels stay open.
  void set_level(std::size_t level, const std::vector<std::size_t>& ends,
                 DirectoryFd dir);
  // reach_directory's answer, for what the trail alone does not settle (a
  // link on the way, or something that is no directory).
  int fall_back(const std::string& dir, Reach& result);

  int root_;
  std::size_t capacity_ = 128;
  std::unordered_map<std::string, DirectoryFd> open_;
  ReachedDirectory last_;  // a directory not kept, open until the next call
  // The last directory reached without a link, its components joined by
  // "/", and one level per component: a few of the deepest held open.
  std::string trail_;
  std::vector<Level> levels_;
  std::deque<std::size_t> open_levels_;  // indices into levels_, ascending
  std::size_t trail_capacity_ = 16;
  std::string last_key_;  // the key the trail's last directory is kept by
};

// The part of a path after its last "/": the name in its directory.
std::string_view leaf_name(std::string_view path);

// Without openat2 (kernels before 5.6) directories are walked one component
// at a time without following any link, so every link is refused. Tests
// force that walk to check it on any kernel.
void force_component_walk(bool on);

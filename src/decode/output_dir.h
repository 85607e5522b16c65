// Reaching a part's directory beneath the output directory without ever
// leaving it, even through links that were there before the run.
#pragma once

#include <string_view>

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
  DirectoryFd dir;  // open only when reached
};

// Opens `dir` (relative, without "..", as check_part_path lets through)
// beneath `root`. A link that stays beneath the root is followed; one that
// would leave it is refused before anything is made. With `create`, missing
// directories are made (0777 less the umask), each inside its parent.
ReachedDirectory reach_directory(int root, std::string_view dir, bool create);

// The part of a path after its last "/": the name in its directory.
std::string_view leaf_name(std::string_view path);

// Without openat2 (kernels before 5.6) directories are walked one component
// at a time without following any link, so every link is refused. Tests
// force that walk to check it on any kernel.
void force_component_walk(bool on);

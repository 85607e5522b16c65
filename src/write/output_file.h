// A part's file written under a temporary name and renamed over its final
// name only once every byte is down, so that a failed or interrupted write
// leaves what was there before.
#pragma once

#include <cstddef>

class PendingFile {
 public:
  // Creates the temporary file in `dir` (exclusively, 0666 less the umask);
  // is_open() tells whether that worked.
  explicit PendingFile(int dir);
  // A file for a body whose directory is not known yet (it may not exist
  // until the body has been read): anonymous beneath the output directory
  // `root` (O_TMPFILE) where its file system allows, else under a hidden
  // name there, else in memory; none when `root` is -1. commit_into moves
  // it into its directory.
  struct InRoot {};
  PendingFile(int root, InRoot /*unused*/);
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  // Removes the temporary file unless it was committed.
  ~PendingFile();

  [[nodiscard]] bool is_open() const { return fd_ >= 0; }

  // Writes every byte; false when the file system refused some.
  bool write(const void* bytes, std::size_t count);

  enum class Commit {
    done,
    write_failed,
    cannot_replace,
    cannot_create,
    exists  // something stands at the name and keep_existing() was asked
  };
  // -n: the commits below never replace what stands at the name.
  void keep_existing() { keep_existing_ = true; }
  // Closes the file and renames it over `name` in the directory: a link,
  // FIFO or device there is replaced, never opened. On failure the
  // temporary file is gone and whatever stood at `name` is untouched.
  Commit commit(const char* name);
  // commit into another directory `dir`: an anonymous file is linked at
  // `name` when nothing stands there; else the file gets a hidden name
  // there (a link to it, or a rename), then is renamed over `name`. When
  // `dir` is on another file system the bytes are copied into a file
  // there, anonymous where that file system allows.
  Commit commit_into(int dir, const char* name);

  // Removes the temporary file now.
  void discard();

 private:
  enum class Where { anonymous, named };
  // A temporary file in `dir`: anonymous where its file system allows.
  PendingFile(int dir, Where where);
  void create_named();
  bool link_into(int dir);
  Commit close_linked(int dir, const char* name);
  Commit copy_into(int dir, const char* name, bool anonymous);

  int dir_;
  int fd_ = -1;
  bool pending_ = false;  // the temporary name exists (or may)
  bool keep_existing_ = false;
  char name_[48] = {};
};

// Holds SIGXFSZ back while a body is written ahead of the line that
// announces it: a write past a file-size limit then fails like any other,
// and release() lets the signal through where the write used to be made.
// Held by the handler install_signal_cleanup installs, not by the signal
// mask; where SIGXFSZ is ignored there is nothing to hold.
class HeldFileSizeSignal {
 public:
  HeldFileSizeSignal();
  ~HeldFileSizeSignal() { release(); }
  HeldFileSizeSignal(const HeldFileSizeSignal&) = delete;
  HeldFileSizeSignal& operator=(const HeldFileSizeSignal&) = delete;
  void release();

 private:
  bool held_ = false;
};

// On SIGINT, SIGTERM, SIGHUP and SIGXFSZ, writes out what standard output
// holds and removes the temporary file being written under a hidden name
// before the process ends by the signal. Installed for each signal
// whose action is the default; the first PendingFile calls it.
void install_signal_cleanup();

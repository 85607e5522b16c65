// A part's file written under a hidden temporary name in its directory and
// renamed over its final name only once every byte is down, so that a failed
// or interrupted write leaves what was there before.
#pragma once

#include <cstddef>

class PendingFile {
 public:
  // Creates the temporary file in `dir` (exclusively, 0666 less the umask);
  // is_open() tells whether that worked.
  explicit PendingFile(int dir);
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  // Removes the temporary file unless it was committed.
  ~PendingFile();

  [[nodiscard]] bool is_open() const { return fd_ >= 0; }

  // Writes every byte; false when the file system refused some.
  bool write(const void* bytes, std::size_t count);

  enum class Commit { done, write_failed, cannot_replace };
  // Closes the file and renames it over `name` in the directory: a link,
  // FIFO or device there is replaced, never opened. On failure the
  // temporary file is gone and whatever stood at `name` is untouched.
  Commit commit(const char* name);

  // Removes the temporary file now.
  void discard();

 private:
  int dir_;
  int fd_ = -1;
  bool pending_ = false;  // the temporary name exists (or may)
  char name_[48] = {};
};

// On SIGINT, SIGTERM, SIGHUP and SIGXFSZ, removes the temporary file being
// written before the process ends by the signal. Installed for each signal
// whose action is the default; the first PendingFile calls it.
void install_signal_cleanup();

// The hidden name the temporary file of this process has while it is being
// written, for tests; empty when none is.
const char* pending_file_name();

// A stream (standard input as a pipe, a FIFO, a terminal) copied into a
// file without a name, for the modes that read an archive twice: in large
// blocks, in memory that does not grow with the stream.
#pragma once

enum class CopyFailure {
  none,
  cannot_create,  // no file could be made in the directory
  read,           // reading the stream failed
  write           // writing the copy failed (a full disk, a quota)
};

struct StreamCopy {
  int fd = -1;  // the copy, open for reading; -1 on failure
  CopyFailure failure = CopyFailure::none;
};

// Copies what `from` holds, from where it stands to its end, into a file
// beneath the directory `dir` that no name leads to (open_unnamed_file), so
// that nothing is left in `dir` whatever becomes of the run. On failure
// the file is gone again.
StreamCopy copy_to_unnamed_file(int from, int dir);

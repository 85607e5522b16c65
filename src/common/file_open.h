// open, openat and write, tried again while a signal interrupts them: a
// caught signal must not turn into "can't open" for an archive or a part,
// nor into a short file.
#pragma once

#include <sys/types.h>

#include <cstddef>

// The descriptor, or -1 with errno set by the last attempt.
int open_retrying(const char* path, int flags, mode_t mode = 0);
int openat_retrying(int dir, const char* path, int flags, mode_t mode = 0);

// Writes all `count` bytes; false when a write fails (errno says why) or
// writes nothing.
bool write_all(int fd, const void* bytes, std::size_t count);

// A file beneath the directory `dir` that no name leads to, open for
// reading and writing: O_TMPFILE where its file system allows, else a
// hidden name made exclusively and removed at once (the signals that end a
// run held back in between), so nothing is left in `dir` whatever becomes
// of the run. -1 when neither works.
int open_unnamed_file(int dir);

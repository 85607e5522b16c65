// open and openat, tried again while a signal interrupts them: a caught
// signal must not turn into "can't open" for an archive or a part.
#pragma once

#include <sys/types.h>

// The descriptor, or -1 with errno set by the last attempt.
int open_retrying(const char* path, int flags, mode_t mode = 0);
int openat_retrying(int dir, const char* path, int flags, mode_t mode = 0);

// A file beneath the directory `dir` that no name leads to, open for
// reading and writing: O_TMPFILE where its file system allows, else a
// hidden name made exclusively and removed at once (the signals that end a
// run held back in between), so nothing is left in `dir` whatever becomes
// of the run. -1 when neither works.
int open_unnamed_file(int dir);

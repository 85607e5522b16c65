// open and openat, tried again while a signal interrupts them: a caught
// signal must not turn into "can't open" for an archive or a part.
#pragma once

#include <sys/types.h>

// The descriptor, or -1 with errno set by the last attempt.
int open_retrying(const char* path, int flags, mode_t mode = 0);
int openat_retrying(int dir, const char* path, int flags, mode_t mode = 0);

// An archive argument turned into what reads it: a path opened, or "-"
// for standard input, read as a stream by the default mode and, for the
// modes that read an archive twice, from a regular file.
#pragma once

#include <string_view>

#include "archive_reader.h"
#include "mime_source.h"

// True for "-": standard input (a file named "-" is "./-").
bool is_standard_input(std::string_view argument);

// The default mode's reader, its header read: the file at the path, or
// standard input from where it stands, whose long body lines are put aside
// beneath the output directory `root` to be read again. Failures are fatal.
ArchiveReader open_archive_argument(std::string_view argument, int root);

// For --any-layout: the file at the path (MimeSource refuses what is not a
// regular file), or standard input itself when it is a regular file at its
// start, else a copy of it in a file without a name beneath the output
// directory `root` (`directory` names it in messages). A failed copy is
// fatal and leaves nothing behind.
FileDescriptor open_archive_file(std::string_view argument, int root,
                                 std::string_view directory);

// The per-part pipeline of one archive: read, decode, write.
#pragma once

#include <string_view>

#include "archive_reader.h"

// Unpacks every part of a freshly opened archive beneath the open directory
// `root`; failures are fatal.
void extract_parts(ArchiveReader& reader, int root);

// extract_parts beneath the current directory.
void extract_parts(ArchiveReader& reader);

// The directory --dir-per-archive unpacks `archive_path` into: its file name
// without the last extension ("dir/report.mht" gives "report"), or the whole
// file name when nothing else would be left but dots (".mht", "..mht").
// Always one component, never "." or "..", for a path that names a file.
std::string_view archive_directory_name(std::string_view archive_path);

// Unpacks the archives named on the command line; the process's status.
int run(int argc, char** argv);

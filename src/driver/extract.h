// The per-part pipeline of one archive: read, decode, write.
#pragma once

#include "archive_reader.h"

// Unpacks every part of a freshly opened archive beneath the open directory
// `root`; failures are fatal.
void extract_parts(ArchiveReader& reader, int root);

// extract_parts beneath the current directory.
void extract_parts(ArchiveReader& reader);

// Unpacks the archives named on the command line; the process's status.
int run(int argc, char** argv);

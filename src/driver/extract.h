// The per-part pipeline of one archive: read, decode, write.
#pragma once

#include "archive_reader.h"

// Unpacks every part of a freshly opened archive; failures are fatal.
void extract_parts(ArchiveReader& reader);

// Unpacks the archives named on the command line; the process's status.
int run(int argc, char** argv);

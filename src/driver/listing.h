// --list: what an archive holds, without writing anything.
#pragma once

#include <cstdint>

#include "archive_reader.h"

struct ListTotal {
  std::uint64_t size = 0;   // bytes, once decoded
  std::uint64_t parts = 0;  // parts listed, refused ones included
};

// Lists every part of a freshly opened archive (its size once decoded, its
// encoding and its path), adding each to `total`. A path that unpacking
// would refuse is listed with a mark and the listing goes on; a malformed
// archive is fatal as when unpacking.
void list_parts(ArchiveReader& reader, ListTotal& total);

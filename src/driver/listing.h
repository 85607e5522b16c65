// --list: what an archive holds, without writing anything.
#pragma once

#include <cstdint>

#include "base64_decoder.h"
#include "manifest.h"
#include "page_rewrite.h"
#include "part_source.h"

struct ListTotal {
  std::uint64_t size = 0;   // bytes, once decoded
  std::uint64_t parts = 0;  // parts listed, refused ones included
};

// Lists every part `source` hands out (the size of the file unpacking would
// write, its encoding and its path), adding each to `total`. Base64 is
// counted through `base64`; with `pages`, a page's size is that of its
// rewritten file. A path that unpacking would refuse is listed with a mark
// and the listing goes on; a malformed archive is fatal as when unpacking.
// With `json`, each part is printed as its --json record instead.
void list_parts(PartSource& source, const Base64Decoder& base64,
                ListTotal& total, OfflinePages* pages = nullptr,
                const ManifestScope* json = nullptr);

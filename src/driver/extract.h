// The per-part pipeline of every layout: read, decode, write.
#pragma once

#include "decode_table.h"
#include "manifest.h"
#include "page_rewrite.h"
#include "part_source.h"

// Unpacks every part `source` hands out beneath the open directory `root`,
// base64 decoded with `table`; with `pages`, --offline's pages are
// rewritten on their way to their files; with `json`, each part written
// is printed as its --json record. With `keep_existing` (-n) a part whose
// file exists is left unwritten, said. Failures are fatal.
void extract_parts(PartSource& source, DecodeTable& table, int root,
                   OfflinePages* pages = nullptr,
                   const ManifestScope* json = nullptr,
                   bool keep_existing = false);

// Unpacks the archives named on the command line; the process's status.
int run(int argc, char** argv);

// --json: what an archive and its parts are, as JSON Lines for scripts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "hashing_sink.h"
#include "mime_archive.h"
#include "part_source.h"
#include "transfer_encoding.h"

// The archive's record: its path, the layout read and, for a MIME archive,
// the headers it holds and the main page's path (empty for none).
struct ArchiveFacts {
  std::string_view path;
  const MimeArchive* mime = nullptr;  // null for the default mode's layout
  std::string_view main_page;
};

// A part's record. `leaf` is null in the default mode's layout, which knows
// only the location, the encoding and what was decoded.
struct PartFacts {
  std::size_t index = 0;
  std::string_view location;
  const MimeLeaf* leaf = nullptr;
  Encoding encoding = Encoding::quoted_printable;
  std::uint64_t size = 0;
  std::string_view sha256;
  std::string_view path;
  bool refused = false;  // the path would be written outside the directory
};

// Each as one line of JSON, without its line end. A text that is not valid
// UTF-8 is given as its bytes in base64 under the key with "_base64" added.
std::string archive_record(const ArchiveFacts& facts);
std::string part_record(const PartFacts& facts);
// The same into `out`, whose room is reused.
void part_record(const PartFacts& facts, std::string& out);

// Where the part records of one archive come from and how their paths are
// shown: `mime` is null for the default mode's layout, `prefix` goes
// before each path (the output directory when unpacking).
struct ManifestScope {
  const MimeArchive* mime = nullptr;
  std::string prefix;
};

// Prints the record of `part`, whose decoded bytes went through `hashed`.
void say_part_record(const ManifestScope& scope, const SourcePart& part,
                     HashingSink& hashed, bool refused);

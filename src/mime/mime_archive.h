// The structure of a MIME archive as GMime reads it: every leaf part with
// the header facts that name and decode it, and where its still-encoded body
// lies in the file. Bodies are never copied; the caller reads the ranges.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MimeLeaf {
  std::string content_type;       // "type/subtype", lower-cased
  std::string charset;            // as given, possibly empty
  std::string transfer_encoding;  // lower-cased and trimmed; empty if none
  std::string location;           // Content-Location, trimmed
  std::string content_id;         // Content-ID without its angle brackets
  std::string base_location;      // the nearest enclosing Content-Location
  std::string filename;  // Content-Disposition filename, else Content-Type
                         // name; RFC 2231 and RFC 2047 decoded, in UTF-8
                         // where the charset is known
  std::uint64_t body_offset = 0;  // first byte of the encoded body
  std::uint64_t body_length = 0;  // up to, not including, the line end
                                  // before the next boundary
};

enum class MimeLayout {
  not_mime,   // no Content-Type header: not a MIME archive at all
  single,     // one part, the message itself
  multipart,  // parts inside one or more multiparts
};

struct MimeArchive {
  MimeLayout layout = MimeLayout::not_mime;
  std::string start;  // the "start" parameter of a multipart/related
  // The outermost header block's Subject (RFC 2047 decoded), Date and
  // Snapshot-Content-Location, trimmed; empty where it has none.
  std::string subject;
  std::string date;
  std::string snapshot_location;
  std::vector<MimeLeaf> leaves;
};

// Parses the archive open on `file` (positioned at its start, seekable) in
// one pass, whatever the nesting. A header block ends within 8 MiB of its
// entity's start: a line that ends beyond that starts the body. Multiparts
// nested deeper than 64 are single parts. The descriptor stays open and
// owned by the caller.
MimeArchive parse_mime_archive(int file);

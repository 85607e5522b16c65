// One archive being unpacked: its boundary, the open file, the current
// part's output path, and the block of bytes read ahead of the parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "boundary_matcher.h"
#include "text.h"
#include "transfer_encoding.h"

// The archive is read in blocks of this size. A body line longer than half
// a block is passed over once to see whether it holds the boundary, then
// read again in blocks (a regular file only), so no line is held whole.
// Fuzz builds shrink it so that lines and boundaries straddle blocks.
#ifndef MIMEUNPACK_READ_BLOCK
#define MIMEUNPACK_READ_BLOCK (1 << 20)
#endif
inline constexpr std::size_t READ_BLOCK = MIMEUNPACK_READ_BLOCK;
// Characters of a location line that come before the part's path.
inline constexpr std::size_t LOCATION_PREFIX_LENGTH = 29;
// The longest header line (before the first boundary, or one of a part's
// four), line end included: such lines are held whole, so they are capped.
inline constexpr std::size_t HEADER_LINE_LIMIT = std::size_t{1} << 20;

struct ArchiveReader {
  std::string boundary;
  int file = -1;
  std::optional<std::string> part_name;
  std::optional<std::string> part_dir;

  std::string path;         // as given on the command line, for messages
  BoundaryMatcher matcher;  // built once the boundary is known
  Text block;               // bytes read ahead; lines are views into it
  std::size_t begin = 0;    // first byte of the block not yet handed out
  bool at_eof = false;
  bool closed = false;    // the close delimiter has been read
  bool in_body = false;   // read_part has stopped at a body not yet read
  bool hinted = false;    // --any-layout has been suggested
  bool seekable = false;  // a regular file: a long line can be read again
  std::uint64_t read_offset = 0;  // file offset of the block's end
  // A long body line known to hold no boundary, read again from the file:
  // the offsets still to hand out, and the room they are read into.
  std::uint64_t reread_from = 0;
  std::uint64_t reread_to = 0;
  Text reread;
  // A stream's long body line is passed over into a file without a name
  // beneath `spill_dir` (made at the first such line, `spill`) and read
  // again from there; with no directory, or none to be made there, the
  // line is held whole.
  int spill_dir = -1;
  int spill = -1;

  ArchiveReader() = default;
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;
  ArchiveReader(ArchiveReader&& other) noexcept;
  ArchiveReader& operator=(ArchiveReader&&) = delete;
  ~ArchiveReader();
};

// The next line with its line end (LF, or CR LF), or none at the end of the
// archive. The view stays valid until the next read from the same reader.
// A line longer than HEADER_LINE_LIMIT is fatal.
std::optional<std::string_view> read_line(ArchiveReader& reader);

// True when every byte of the archive has been handed out.
bool at_end(ArchiveReader& reader);

// A run of a part's body, none of whose lines holds the boundary: whole
// lines, or a piece of one line longer than half a block.
struct BodyChunk {
  std::string_view lines;
  bool boundary_found = false;  // the boundary line has been read past
};

// Hands out body lines in large runs, up to the next boundary line, which it
// reads past (marking the reader closed when it is the close delimiter).
// An empty run without boundary_found means the archive has ended.
BodyChunk read_body_chunk(ArchiveReader& reader);

// True when `line` holds the boundary directly followed by "--".
bool is_close_delimiter(const ArchiveReader& reader, std::string_view line);

// Suggests --any-layout on standard error, once per archive: its header or
// a part is laid out otherwise than this mode reads.
void hint_other_layout(ArchiveReader& reader);

// Opens the archive and reads its header up to the boundary; every failure
// is fatal (a header fault after hint_other_layout).
ArchiveReader open_archive(std::string_view path);
// The same for an archive already open at `file` (the reader takes it over;
// -1 fails as a file that can't be opened), read from where it stands;
// `path` names it in messages.
ArchiveReader read_archive_header(int file, std::string_view path);

// Reads up to and past the first line that holds the boundary; false when the
// archive ends first.
bool skip_to_first_boundary(ArchiveReader& reader);

// A part as read_part hands it out; its body follows from read_body.
struct PartBody {
  // Base64 when the encoding line holds "base64", else quoted-printable.
  Encoding encoding = Encoding::quoted_printable;
};

// Reads the next part's lines up to its body: sets part_name and part_dir
// and returns its encoding, or none when no further part can be read.
std::optional<PartBody> read_part(ArchiveReader& reader);

// The next run of the body read_part stopped at, as it stands in the
// archive (line ends and all), up to the next boundary line; empty once the
// body has all been handed out. The view stays valid until the next read.
std::string_view read_body(ArchiveReader& reader);

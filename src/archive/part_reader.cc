#include <cstring>

#include "archive_reader.h"
#include "line_ends.h"
#include "messages.h"

namespace {

bool starts_with_close_delimiter(std::string_view boundary,
                                 std::string_view line) {
  return line.size() >= boundary.size() + 4 && line.substr(0, 2) == "--" &&
         line.substr(2, boundary.size()) == boundary &&
         line.substr(2 + boundary.size(), 2) == "--";
}

[[noreturn]] void fail_part_format_of(ArchiveReader& reader) {
  hint_other_layout(reader);
  fail_part_format();
}

}  // namespace

std::optional<PartBody> read_part(ArchiveReader& reader) {
  reader.part_name.reset();
  reader.part_dir.reset();
  // A body not read through is skipped.
  while (!read_body(reader).empty()) {
  }
  if (reader.closed) return std::nullopt;

  const std::optional<std::string_view> location = read_line(reader);
  if (!location) return std::nullopt;
  // A close delimiter right after a boundary line: an empty last part. Only
  // a line that starts with it: a path may well hold the boundary and "--".
  if (starts_with_close_delimiter(reader.boundary, *location)) {
    reader.closed = true;
    return std::nullopt;
  }
  const std::string_view path = cut_line_end(*location);
  // A location line this short holds no path: a blank line after the
  // closing boundary, say. It is only an error when a body follows.
  const bool has_path = path.size() > LOCATION_PREFIX_LENGTH;
  std::string name(has_path ? path.substr(LOCATION_PREFIX_LENGTH) : "");
  // A part whose first header is not its location: laid out otherwise than
  // this mode reads by position, which --any-layout reads.
  constexpr std::string_view LOCATION_HEADER = "Content-Location:";
  if (has_path && path.substr(0, LOCATION_HEADER.size()) != LOCATION_HEADER)
    hint_other_layout(reader);

  const std::optional<std::string_view> encoding = read_line(reader);
  if (!encoding) {
    if (!has_path) return std::nullopt;
    fail_part_format_of(reader);
  }
  const Encoding body_encoding =
      encoding->find("base64") != std::string_view::npos
          ? Encoding::base64
          : Encoding::quoted_printable;

  if (read_line(reader) && read_line(reader)) {
    if (!has_path) {
      if (at_end(reader)) return std::nullopt;
      fail_part_format_of(reader);
    }
    reader.in_body = true;
  } else if (!has_path) {
    return std::nullopt;
  }

  const std::size_t slash = name.rfind('/');
  reader.part_dir =
      slash == std::string::npos ? std::string() : name.substr(0, slash);
  reader.part_name = std::move(name);
  return PartBody{body_encoding};
}

std::string_view read_body(ArchiveReader& reader) {
  if (!reader.in_body) return {};
  const BodyChunk chunk = read_body_chunk(reader);
  if (chunk.boundary_found || chunk.lines.empty()) reader.in_body = false;
  return chunk.lines;
}

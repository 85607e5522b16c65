// Line ends: cutting one off a line (a location line, say), and base64
// bodies, whose line ends are not data, copied from a run of lines with them
// left out. Shared by the archive reader and the decoders.
#pragma once

#include <cstddef>
#include <string_view>

#include "vector_level.h"

// Cuts a line end: a CR or LF among the last two bytes, the one before last
// looked at first, ends the text there.
std::string_view cut_line_end(std::string_view line);

// Copies `lines`, whole lines each ending in LF except perhaps the last, to
// `out` with every line cut as cut_line_end cuts it. Returns the number of
// bytes written; `out` needs room for lines.size() bytes.
std::size_t copy_without_line_ends(std::string_view lines, char* out);

// copy_without_line_ends with the vector paths of `level`, which the
// processor must support; for tests and benchmarks.
std::size_t copy_without_line_ends_at(VectorLevel level, std::string_view lines,
                                      char* out);

// The line-at-a-time reference for copy_without_line_ends.
std::size_t copy_without_line_ends_scalar(std::string_view lines, char* out);

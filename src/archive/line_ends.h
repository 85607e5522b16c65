// Base64 bodies are kept without their line ends; these copy a run of lines
// and leave the line ends out.
#pragma once

#include <cstddef>
#include <string_view>

#include "cpu_features.h"

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

// Quoted-printable decoding.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "vector_level.h"

// Decodes `body` from `position` on while `position` < `stop`, advancing it,
// and returns the number of bytes written to `out`, which needs room for
// stop - position bytes. An escape that starts before `stop` may read up to
// two bytes past it, never past the end of `body`.
std::size_t decode_quoted_printable(std::string_view body,
                                    std::size_t& position, std::size_t stop,
                                    char* out);

// The byte-at-a-time reference for decode_quoted_printable, same contract.
std::size_t decode_quoted_printable_scalar(std::string_view body,
                                           std::size_t& position,
                                           std::size_t stop, char* out);

// decode_quoted_printable with the vector paths of `level`, which the
// processor must support; for tests and benchmarks.
std::size_t decode_quoted_printable_at(VectorLevel level, std::string_view body,
                                       std::size_t& position, std::size_t stop,
                                       char* out);

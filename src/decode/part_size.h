// How many bytes a part's body decodes to, without a table or a file.
#pragma once

#include <cstdint>
#include <string_view>

// The size write_part would give the part's file: for base64 (a body kept
// without line ends) whole groups make three bytes each and a final group
// of k characters, "=" padding at the end not counted, makes k - 1; for
// quoted-printable the body is decoded and its bytes counted; a body
// written as it stands (2) is its own size.
std::uint64_t decoded_size(std::string_view body, std::int32_t is_base64);

// How many bytes a part's body decodes to, without a table or a file.
#pragma once

#include <cstdint>
#include <string_view>

// The size write_part would give the part's file: for base64 (a body kept
// without line ends) whole groups make three bytes each and a final group
// of k characters, "=" padding at the end not counted, makes k - 1; for
// quoted-printable the body is decoded and its bytes counted.
std::uint64_t decoded_size(std::string_view body, std::int32_t is_base64);

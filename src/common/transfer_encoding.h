// How a part's body stands in the archive, and so how it is decoded.
#pragma once

#include <string_view>

enum class Encoding {
  quoted_printable,
  base64,
  as_is,  // 7bit, 8bit, binary or unknown: written as it stands
};

// The encoding a Content-Transfer-Encoding value (lower-cased, trimmed)
// names; anything but base64 and quoted-printable is written as it stands.
Encoding encoding_named(std::string_view transfer_encoding);

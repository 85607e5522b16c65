// One part's body on its way to a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text.h"

struct PartDecoder {
  Text content;                // the body, owned
  std::int32_t is_base64 = 0;  // 1 for base64, 0 for quoted-printable

  // Takes the body over; the first decoder of the process loads base64.conf.
  PartDecoder(Text body, int base64);
};

// Decodes the body into the file at `path`: 0 when written, -1 when the file
// can't be created. A failed write is fatal. `dir` is the open directory of
// `path` (-1 when it couldn't be reached); the file is written there under a
// temporary name and renamed over the last component of `path`.
int write_part(const PartDecoder& decoder, const std::string& path, int dir);

// write_part into an existing directory beneath the current one.
int write_part(const PartDecoder& decoder, const std::string& path);

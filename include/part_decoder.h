// One part's body on its way to a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text.h"

struct PartDecoder {
  Text content;  // the body, owned
  // 1 for base64, 0 for quoted-printable, 2 for a body written as it stands
  // (7bit, 8bit, binary or an unknown encoding; --any-layout only).
  std::int32_t is_base64 = 0;

  // Takes the body over; the first decoder of the process loads base64.conf.
  PartDecoder(Text body, int base64);
};

// Decodes the body into the file at `path`: 0 when written, -1 when the file
// can't be created. A failed write is fatal.
int write_part(const PartDecoder& decoder, const std::string& path);

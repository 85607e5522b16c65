// One part's body on its way to a file, and the base64 table it is decoded
// with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base64_table.h"
#include "text.h"

// Input characters decoded before each write to the file. Fuzz builds
// shrink it so that escapes and groups straddle blocks.
#ifndef MIMEUNPACK_DECODE_BLOCK
#define MIMEUNPACK_DECODE_BLOCK (1 << 20)
#endif
inline constexpr std::size_t DECODE_BLOCK = MIMEUNPACK_DECODE_BLOCK;

struct PartDecoder {
  Text content;  // the body, owned
  // 1 for base64, 0 for quoted-printable, 2 for a body written as it stands
  // (7bit, 8bit, binary or an unknown encoding; --any-layout only).
  std::int32_t is_base64 = 0;

  // Takes the body over; the first decoder of the process loads base64.conf.
  PartDecoder(Text body, int base64);
};

// Loads the table file now unless a table is in place, as the first
// PartDecoder does: for a mode that decides when the table is read.
void ensure_base64table();

// Makes `table` the process's table, as loading base64.conf would, without
// reading the file: for callers that bring their own (tests, fuzz targets).
void set_base64table(const Base64table& table);

// Decodes the body into the file at `path`: 0 when written, -1 when the file
// can't be created. A failed write is fatal. `dir` is the open directory of
// `path` (-1 when it couldn't be reached); the file is written there under a
// temporary name and renamed over the last component of `path`.
int write_part(const PartDecoder& decoder, const std::string& path, int dir);

// write_part into an existing directory beneath the current one.
int write_part(const PartDecoder& decoder, const std::string& path);

// Receives a file's bytes in pieces, in order.
using PieceWriter = std::function<void(std::string_view bytes)>;
// Chooses what is written for a decoded body, handing it to `write` in
// pieces (the body itself, or pieces of it with others between them).
using PartFilter =
    std::function<void(std::string_view decoded, const PieceWriter& write)>;

// write_part for a body that must be seen whole before it is written: the
// body is decoded in place (its memory reused, no second copy) and `filter`
// gives the file's bytes, gathered into large writes, under a temporary name
// in `dir` as write_part does. The decoded body stays in decoder.content.
int write_part_filtered(PartDecoder& decoder, const std::string& path, int dir,
                        const PartFilter& filter);

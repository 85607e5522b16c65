// One part's body on its way to a file, decoded while it is read, and the
// base64 table it is decoded with.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base64_table.h"
#include "output_file.h"
#include "stream_decoder.h"

// Decoded bytes into a temporary file; a failed write is remembered, not
// said: the part's announcement comes first.
class PendingFileSink final : public DecodeSink {
 public:
  explicit PendingFileSink(int root) : file(root, PendingFile::InRoot{}) {}
  void put(const char* bytes, std::size_t count) override;

  PendingFile file;
  bool failed = false;  // a write was refused (disk full, size limit)
};

struct PartDecoder {
  // 1 for base64, 0 for quoted-printable, 2 for a body written as it stands
  // (7bit, 8bit, binary or an unknown encoding; --any-layout only).
  std::int32_t is_base64 = 0;
  // The bytes fed are the file's bytes already (a page whose references
  // were rewritten): written as they come, whatever is_base64 says.
  bool as_is = false;

  // Starts a body beneath the open output directory `root`. The first
  // decoder of the process reads base64.conf without a word (what loading
  // says comes with announce_base64table, once the body has been read).
  PartDecoder(int base64, int root, bool bytes_as_is = false);
  PartDecoder(const PartDecoder&) = delete;
  PartDecoder& operator=(const PartDecoder&) = delete;
  ~PartDecoder() = default;

  // The body's bytes as they stand in the archive, in runs of any size.
  void feed(std::string_view bytes);
  // The body has ended.
  void finish();

  bool decoding = false;  // false when the table can't be used: bytes go
  HeldFileSizeSignal held_signal;
  PendingFileSink sink;
  StreamDecoder stream;
};

// Loads the table file now unless a table is in place, as the first
// PartDecoder does: for a mode that decides when the table is read.
void ensure_base64table();

// Receives a file's bytes in pieces, in order.
using PieceWriter = std::function<void(std::string_view bytes)>;
// Chooses what is written for a decoded body, handing it to `write` in
// pieces (the body itself, or pieces of it with others between them).
using PartFilter =
    std::function<void(std::string_view decoded, const PieceWriter& write)>;

// For a body that must be seen whole before it is written: decodes `body`
// (held in memory) by `decoder`'s encoding and feeds what `filter` makes of
// it to `decoder`, which must have been made with bytes_as_is.
void feed_filtered(PartDecoder& decoder, std::string_view body,
                   const PartFilter& filter);

// Makes `table` the process's table, as loading base64.conf would, without
// reading the file: for callers that bring their own (tests, fuzz targets).
void set_base64table(const Base64table& table);

// Prints "Zapis souboru" and puts the decoded body at `path`: 0 when
// written, -1 when the file can't be created or can't replace what stands
// there. A failed write is fatal. `dir` is the open directory of `path` (-1
// when it couldn't be reached); the file is renamed over the last component
// of `path` there.
int write_part(PartDecoder& decoder, const std::string& path, int dir);

// One part's body on its way to a file, decoded while it is read, and the
// base64 table it is decoded with.
#pragma once

#include <string>
#include <string_view>

#include "decode_table.h"
#include "output_file.h"
#include "stream_decoder.h"
#include "transfer_encoding.h"

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
  Encoding encoding = Encoding::quoted_printable;

  // Starts a body beneath the open output directory `root`. The first
  // decoder of a run that reads its table file reads it here without a word
  // (what loading says comes with table.announce(), once the body has been
  // read); a table that can't be used leaves the body unwritten.
  PartDecoder(Encoding body_encoding, DecodeTable& table, int root,
              Base64Input input = Base64Input::table);
  PartDecoder(const PartDecoder&) = delete;
  PartDecoder& operator=(const PartDecoder&) = delete;
  ~PartDecoder() = default;

  // Decoded bytes go to `filter` instead of the file; the filter hands what
  // the file is to hold on to `sink`. Set before the first feed.
  void decode_through(DecodeSink& filter) { front = &filter; }

  // The body's bytes as they stand in the archive, in runs of any size.
  void feed(std::string_view bytes);
  // The body has ended.
  void finish();

  bool decoding = false;  // false when the table can't be used: bytes go
  HeldFileSizeSignal held_signal;
  PendingFileSink sink;
  StreamDecoder stream;
  DecodeSink* front = &sink;
};

// Prints "Zapis souboru" and puts the decoded body at `path`: 0 when
// written, -1 when the file can't be created or can't replace what stands
// there, 1 when `keep_existing` (-n) left what stands there in place. A failed
// write is fatal. `dir` is the open directory of `path` (-1 when it couldn't be
// reached); the file is renamed over the last component of `path` there.
int write_part(PartDecoder& decoder, const std::string& path, int dir,
               bool keep_existing = false);

#include "listing.h"

#include <string_view>

#include "base64_table.h"
#include "messages.h"
#include "path_guard.h"
#include "stream_decoder.h"

void list_parts(ArchiveReader& reader, ListTotal& total) {
  if (!skip_to_first_boundary(reader)) return;
  // A size does not depend on the alphabet: whole groups make three bytes
  // and the final group's characters, padding aside, one byte fewer. Any
  // table counts right, so none is read.
  static const Base64Decoder counting_table(base64table_of(RFC2045_ALPHABET));
  for (;;) {
    const std::optional<PartBody> part = read_part(reader);
    if (!part) return;
    StreamDecoder decoder(part->is_base64 != 0 ? &counting_table : nullptr);
    CountingSink size;
    for (std::string_view run = read_body(reader); !run.empty();
         run = read_body(reader))
      decoder.feed(run, size);
    decoder.finish(size);
    say_list_entry(size.count(), part->is_base64, *reader.part_name,
                   !is_safe_part_path(*reader.part_name));
    total.size += size.count();
    ++total.parts;
  }
}

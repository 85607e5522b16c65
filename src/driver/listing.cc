#include "listing.h"

#include <utility>

#include "messages.h"
#include "part_size.h"
#include "path_guard.h"

void list_parts(ArchiveReader& reader, ListTotal& total) {
  if (!skip_to_first_boundary(reader)) return;
  for (;;) {
    std::optional<PartBody> part = read_part(reader);
    if (!part) return;
    const std::uint64_t size = decoded_size(part->body.view(), part->is_base64);
    say_list_entry(size, part->is_base64, *reader.part_name,
                   !is_safe_part_path(*reader.part_name));
    total.size += size;
    ++total.parts;
    recycle_body(reader, std::move(part->body));
  }
}

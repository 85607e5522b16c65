#include "extract.h"

#include <utility>

#include "base64_table.h"
#include "listing.h"
#include "messages.h"
#include "options.h"
#include "output_dir.h"
#include "part_decoder.h"
#include "path_guard.h"

void extract_parts(ArchiveReader& reader) {
  const DirectoryFd root = open_output_root(".");
  extract_parts(reader, root.get());
}

void extract_parts(ArchiveReader& reader, int root) {
  if (!skip_to_first_boundary(reader)) return;
  DirectoryCache directories(root);
  for (;;) {
    std::optional<PartBody> part = read_part(reader);
    if (!part) return;
    PartDecoder decoder(std::move(part->body), part->is_base64);
    check_part_path(*reader.part_name);
    Reach reach = Reach::failed;
    const int dir = directories.reach(*reader.part_dir, reach);
    if (reach == Reach::outside) fail_unsafe_path(*reader.part_name);
    if (write_part(decoder, *reader.part_name, dir) != 0) fail_cannot_create();
    recycle_body(reader, std::move(decoder.content));
    reader.part_name.reset();
    reader.part_dir.reset();
  }
}

int run(int argc, char** argv) {
  const Options options = parse_options(argc, argv);
  if (options.help) {
    say_help();
    return STATUS_OK;
  }
  if (options.version) {
    say_version();
    return STATUS_OK;
  }
  if (options.archives.empty()) fail_no_argument();
  set_quiet(options.quiet);
  set_table_file(options.table);
  const std::size_t count = options.archives.size();
  for (std::size_t i = 0; i < count; ++i) {
    // Only archive paths count, whatever options stand among them.
    say_progress(static_cast<int>(count - i), options.archives[i]);
    ArchiveReader reader = open_archive(options.archives[i]);
    if (options.list) {
      ListTotal total;
      say_list_header();
      list_parts(reader, total);
      say_list_total(total.size, total.parts);
    } else {
      extract_parts(reader);
    }
  }
  return STATUS_OK;
}

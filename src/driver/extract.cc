#include "extract.h"

#include <optional>
#include <string_view>

#include "base64_table.h"
#include "messages.h"
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
    const std::optional<PartBody> part = read_part(reader);
    if (!part) return;
    // The body is decoded as it is read, into a file of its own beneath the
    // root; what a part makes happen in view (the table's lines, the path's
    // checks, its directories, "Zapis souboru") comes once it has been read
    // through, so a read that fails midway leaves no trace of the part.
    PartDecoder decoder(part->is_base64, root);
    for (std::string_view run = read_body(reader); !run.empty();
         run = read_body(reader))
      decoder.feed(run);
    decoder.finish();
    announce_base64table();
    check_part_path(*reader.part_name);
    Reach reach = Reach::failed;
    const int dir = directories.reach(*reader.part_dir, reach);
    if (reach == Reach::outside) fail_unsafe_path(*reader.part_name);
    if (write_part(decoder, *reader.part_name, dir) != 0) fail_cannot_create();
    reader.part_name.reset();
    reader.part_dir.reset();
  }
}

int run(int argc, char** argv) {
  if (argc < 2) fail_no_argument();
  for (int i = 1; i < argc; ++i) {
    say_progress(argc - i, argv[i]);
    ArchiveReader reader = open_archive(argv[i]);
    extract_parts(reader);
  }
  return STATUS_OK;
}

#include "extract.h"

#include <utility>

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
  if (argc < 2) fail_no_argument();
  for (int i = 1; i < argc; ++i) {
    say_progress(argc - i, argv[i]);
    ArchiveReader reader = open_archive(argv[i]);
    extract_parts(reader);
  }
  return STATUS_OK;
}

#include "extract.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "any_layout.h"
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

std::string_view archive_directory_name(std::string_view archive_path) {
  const std::string_view file =
      archive_path.substr(archive_path.rfind('/') + 1);
  const std::size_t dot = file.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return file;
  const std::string_view stem = file.substr(0, dot);
  if (stem.find_first_not_of('.') == std::string_view::npos) return file;
  return stem;
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
  // Opened once, before any archive: every part is written beneath it.
  const DirectoryFd root =
      open_output_root(std::string(options.directory).c_str());
  if (!root.is_open()) fail_cannot_open_directory(options.directory);
  // The output directory as a prefix of the paths beneath it.
  std::string shown_root;
  if (options.directory != ".") {
    shown_root = options.directory;
    if (shown_root.back() != '/') shown_root += '/';
  }
  const AnyLayoutOptions any_layout{.offline = options.offline,
                                    .own_table = options.table_given};
  const std::size_t count = options.archives.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view path = options.archives[i];
    // Only archive paths count, whatever options stand among them.
    say_progress(static_cast<int>(count - i), path);
    std::optional<ArchiveReader> reader;
    std::optional<AnyLayoutArchive> mime;
    if (options.any_layout)
      mime.emplace(std::string(path), any_layout);
    else
      reader.emplace(open_archive(path));
    if (options.list) {
      ListTotal total;
      say_list_header();
      if (mime)
        mime->list(total);
      else
        list_parts(*reader, total);
      say_list_total(total.size, total.parts);
      continue;
    }
    int archive_root = root.get();
    std::string root_path = shown_root;
    ReachedDirectory own;
    if (options.dir_per_archive) {
      // The archive's own directory becomes the root its paths are checked
      // against: a link in it can't lead to a sibling archive's files.
      const std::string_view name = archive_directory_name(path);
      own = reach_directory(root.get(), name, true);
      if (own.result == Reach::outside) fail_unsafe_path(name);
      if (own.result != Reach::reached) fail_cannot_make_directory(name);
      archive_root = own.dir.get();
      root_path.append(name).append("/");
    }
    if (mime)
      mime->extract(archive_root, root_path);
    else
      extract_parts(*reader, archive_root);
  }
  return STATUS_OK;
}

#include "extract.h"

#include <optional>
#include <string>
#include <string_view>

#include "archive_reader.h"
#include "archive_stem.h"
#include "base64_table.h"
#include "listing.h"
#include "messages.h"
#include "mime_source.h"
#include "office_source.h"
#include "options.h"
#include "output_dir.h"
#include "part_decoder.h"
#include "path_guard.h"
#include "single_file.h"

void extract_parts(PartSource& source, DecodeTable& table, int root,
                   OfflinePages* pages) {
  DirectoryCache directories(root);
  SourcePart part;
  while (source.next(part)) {
    // The body is decoded as it is read, into a file of its own beneath the
    // root; what a part makes happen in view (the table's lines, the path's
    // checks, its directories, "Zapis souboru") comes once it has been read
    // through, so a read that fails midway leaves no trace of the part.
    PartDecoder decoder(part.encoding, table, root, part.base64_input);
    std::optional<RewritingSink> page;
    if (pages != nullptr && pages->start(part.index, decoder.sink, page))
      decoder.decode_through(*page);
    for (std::string_view run = source.read_body(); !run.empty();
         run = source.read_body())
      decoder.feed(run);
    decoder.finish();
    if (page) {
      page->finish();
      if (page->report().status == RewriteStatus::unsupported_charset)
        note_charset_not_rewritten(part.path, page->report().charset);
    }
    table.announce();
    check_part_path(part.path);
    Reach reach = Reach::failed;
    const int dir = directories.reach(part.directory, reach);
    if (reach == Reach::outside) fail_unsafe_path(part.path);
    if (write_part(decoder, part.path, dir) != 0) fail_cannot_create();
  }
}

namespace {

// A size does not depend on the alphabet: whole groups make three bytes and
// the final group's characters, padding aside, one byte fewer. Any table
// counts right, so the default mode's listing reads none.
const Base64Decoder& counting_table() {
  static const Base64Decoder table(base64table_of(RFC2045_ALPHABET));
  return table;
}

// --any-layout: MIME defines base64, so without a table file of its own the
// run decodes with RFC 2045's alphabet; -t's file is read at the first
// archive, as the default mode reads it.
void prepare_mime_table(DecodeTable& table, bool own_table) {
  if (table.loaded()) return;
  if (own_table)
    table.load();
  else
    table.use(base64table_of(RFC2045_ALPHABET));
}

}  // namespace

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
  // The page is all that standard output holds.
  const bool page_out = options.single_file_to == "-" && !options.list;
  if (page_out && options.archives.size() != 1)
    fail_single_file_output_needs_one_archive();
  set_quiet(options.quiet || page_out);
  DecodeTable table{std::string(options.table)};
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
  const std::size_t count = options.archives.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view path = options.archives[i];
    // Only archive paths count, whatever options stand among them.
    say_progress(static_cast<int>(count - i), path);
    std::optional<OfficeSource> office;
    std::optional<MimeSource> mime;
    std::optional<OfflinePages> pages;
    PartSource* source = nullptr;
    if (options.any_layout) {
      source = &mime.emplace(std::string(path));
      prepare_mime_table(table, options.table_given);
      mime->read_as_rfc2045(is_rfc2045_table(table.table()));
      if (options.offline) {
        pages.emplace(mime->archive(), mime->names());
        if (options.no_network) pages->block_network();
      }
    } else {
      source = &office.emplace(open_archive(path));
    }
    OfflinePages* rewriting = pages ? &*pages : nullptr;
    if (options.single_file && options.list) {
      list_single_file(*mime, table, root.get());
      continue;
    }
    if (options.list) {
      ListTotal total;
      say_list_header();
      list_parts(*source,
                 options.any_layout ? *table.decoder() : counting_table(),
                 total, rewriting);
      say_list_total(total.size, total.parts);
      continue;
    }
    int archive_root = root.get();
    std::string root_path = shown_root;
    ReachedDirectory own;
    if (options.dir_per_archive) {
      // The archive's own directory becomes the root its paths are checked
      // against: a link in it can't lead to a sibling archive's files.
      const std::string_view name = archive_stem(path);
      own = reach_directory(root.get(), name, true);
      if (own.result == Reach::outside) fail_unsafe_path(name);
      if (own.result != Reach::reached) fail_cannot_make_directory(name);
      archive_root = own.dir.get();
      root_path.append(name).append("/");
    }
    if (page_out) {
      put_single_file(*mime, table, root.get(), options.no_network);
      continue;
    }
    if (options.single_file) {
      write_single_file(*mime, table, archive_root, root_path,
                        options.no_network);
      continue;
    }
    extract_parts(*source, table, archive_root, rewriting);
    if (pages && pages->main_page() < mime->names().size())
      say_main_page(root_path + mime->names()[pages->main_page()]);
  }
  return STATUS_OK;
}

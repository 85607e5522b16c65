#include "extract.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>

#include "archive_input.h"
#include "archive_reader.h"
#include "archive_stem.h"
#include "base64_table.h"
#include "hashing_sink.h"
#include "listing.h"
#include "manifest.h"
#include "messages.h"
#include "mime_source.h"
#include "office_source.h"
#include "offline_links.h"
#include "options.h"
#include "output_dir.h"
#include "output_file.h"
#include "part_decoder.h"
#include "path_guard.h"
#include "progress.h"
#include "single_file.h"
#include "type_filter.h"

void extract_parts(PartSource& source, DecodeTable& table, int root,
                   OfflinePages* pages, const ManifestScope* json,
                   bool keep_existing) {
  DirectoryCache directories(root);
  SourcePart part;
  while (source.next(part)) {
    // The body is decoded as it is read, into a file of its own beneath the
    // root; what a part makes happen in view (the table's lines, the path's
    // checks, its directories, "Zapis souboru") comes once it has been read
    // through, so a read that fails midway leaves no trace of the part.
    PartDecoder decoder(part.encoding, table, root, part.base64_input);
    // --json hashes what the file gets, on its way there.
    std::optional<HashingSink> hashed;
    if (json != nullptr) decoder.decode_through(hashed.emplace(decoder.sink));
    DecodeSink& file =
        hashed ? static_cast<DecodeSink&>(*hashed) : decoder.sink;
    std::optional<RewritingSink> page;
    if (pages != nullptr && pages->start(part.index, file, page))
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
    const int written = write_part(decoder, part.path, dir, keep_existing);
    if (written == 1) say_kept_existing(part.path);
    if (written < 0) fail_cannot_create();
    if (hashed && written == 0) say_part_record(*json, part, *hashed, false);
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

// --json: the archive's record, its main page shown beneath `prefix`.
void say_archive_record(std::string_view path, const MimeSource* mime,
                        std::string_view prefix) {
  ArchiveFacts facts;
  facts.path = path;
  std::string main_page;
  if (mime != nullptr) {
    facts.mime = &mime->archive();
    const std::size_t main = find_main_page(mime->archive());
    if (main < mime->names().size())
      main_page = std::string(prefix) + mime->names()[main];
  }
  facts.main_page = main_page;
  say_json_record(archive_record(facts));
}

// -n under -a: names are chosen before anything is written (a page's
// links point at them), so a file already on disk takes the next "-N".
// The write itself never replaces either, should one appear meanwhile.
PartNameAllocator::Taken existing_files(const Options& options,
                                        std::string_view path, int root) {
  if (!options.no_clobber || options.list) return {};
  std::string prefix;
  if (options.dir_per_archive) prefix.append(archive_stem(path)).append("/");
  return [prefix, root](const std::string& name) {
    struct stat status {};
    return ::fstatat(root, (prefix + name).c_str(), &status,
                     AT_SYMLINK_NOFOLLOW) == 0;
  };
}

// -k: a failure ends its archive, not the run. Its message is said as
// usual and the archive's state (open files, pending temporary files) goes
// as the stack unwinds; what no later archive could escape stays fatal.
struct ArchiveFailed {
  int status;
};

FatalHandler outer_handler = nullptr;

[[noreturn]] void end_archive(int status, std::string_view message) {
  if (fatal_ends_run()) {
    set_fatal_handler(outer_handler);
    fatal(status, message);
  }
  say_failure(message);
  throw ArchiveFailed{status};
}

class KeepGoing {
 public:
  KeepGoing() { outer_handler = set_fatal_handler(end_archive); }
  KeepGoing(const KeepGoing&) = delete;
  KeepGoing& operator=(const KeepGoing&) = delete;
  ~KeepGoing() { set_fatal_handler(outer_handler); }
};

void unpack_archive(const Options& options, std::string_view path,
                    DecodeTable& table, int root, const std::string& shown_root,
                    const TypeFilter* only);

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
  // --json keeps standard output to its records; --single-file=- to the
  // page.
  const bool page_out = options.single_file_to == "-" && !options.list;
  if (page_out && options.archives.size() != 1)
    fail_single_file_output_needs_one_archive();
  set_quiet(options.quiet || options.json || page_out);
  if (options.progress && !options.quiet) {
    turn_on_progress();
    // A bar on the screen is erased however the run ends, an interrupt
    // before the first file included.
    if (active_progress != nullptr) install_signal_cleanup();
  }
  // The office layout names no types: --only has nothing to go by there.
  std::optional<TypeFilter> only;
  if (options.only_given) {
    if (!options.any_layout) fail_only_without_any_layout();
    only = TypeFilter::parse(options.only);
    if (!only) fail_bad_type_list(options.only);
  }
  const TypeFilter* filter = only ? &*only : nullptr;
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
  std::size_t done = 0;
  std::size_t failed = 0;
  int status = STATUS_OK;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view path = options.archives[i];
    // Only archive paths count, whatever options stand among them.
    say_progress(static_cast<int>(count - i), path);
    if (!options.keep_going) {
      unpack_archive(options, path, table, root.get(), shown_root, filter);
      continue;
    }
    try {
      const KeepGoing keep_going;
      unpack_archive(options, path, table, root.get(), shown_root, filter);
      ++done;
    } catch (const ArchiveFailed& failure) {
      if (failed++ == 0) status = failure.status;
    }
  }
  if (options.keep_going) say_batch_total(done, failed);
  return status;
}

namespace {

// One archive: listed, or unpacked beneath `root`.
void unpack_archive(const Options& options, std::string_view path,
                    DecodeTable& table, int root, const std::string& shown_root,
                    const TypeFilter* only) {
  const ArchiveProgress progress;
  std::optional<OfficeSource> office;
  std::optional<MimeSource> mime;
  std::optional<OfflinePages> pages;
  PartSource* source = nullptr;
  if (options.any_layout) {
    source =
        &mime.emplace(open_archive_file(path, root, options.directory),
                      std::string(path), existing_files(options, path, root));
    if (only != nullptr) mime->keep_only(*only);
    prepare_mime_table(table, options.table_given);
    mime->read_as_rfc2045(is_rfc2045_table(table.table()));
    if (options.offline) {
      pages.emplace(mime->archive(), mime->names());
      if (options.no_network) pages->block_network();
    }
  } else {
    source = &office.emplace(open_archive_argument(path, root));
  }
  OfflinePages* rewriting = pages ? &*pages : nullptr;
  if (options.single_file && options.list) {
    list_single_file(*mime, table, root);
    return;
  }
  std::optional<ManifestScope> json;
  if (options.json)
    json.emplace(ManifestScope{mime ? &mime->archive() : nullptr,
                               options.list ? std::string() : shown_root});
  if (options.list) {
    ListTotal total;
    if (json)
      say_archive_record(path, mime ? &*mime : nullptr, "");
    else
      say_list_header();
    list_parts(*source,
               options.any_layout ? *table.decoder() : counting_table(), total,
               rewriting, json ? &*json : nullptr);
    if (!json) say_list_total(total.size, total.parts);
    return;
  }
  int archive_root = root;
  std::string root_path = shown_root;
  ReachedDirectory own;
  if (options.dir_per_archive) {
    // The archive's own directory becomes the root its paths are checked
    // against: a link in it can't lead to a sibling archive's files.
    const std::string_view name = archive_stem(path);
    own = reach_directory(root, name, true);
    if (own.result == Reach::outside) fail_unsafe_path(name);
    if (own.result != Reach::reached) fail_cannot_make_directory(name);
    archive_root = own.dir.get();
    root_path.append(name).append("/");
  }
  if (options.single_file_to == "-") {
    put_single_file(*mime, table, root, options.no_network);
    return;
  }
  if (options.single_file) {
    write_single_file(*mime, table, archive_root, root_path,
                      options.no_network);
    return;
  }
  if (json) {
    json->prefix = root_path;
    say_archive_record(path, mime ? &*mime : nullptr, root_path);
  }
  extract_parts(*source, table, archive_root, rewriting,
                json ? &*json : nullptr, options.no_clobber);
  if (!json && pages && pages->main_page() < mime->names().size())
    say_main_page(root_path + mime->names()[pages->main_page()]);
}

}  // namespace

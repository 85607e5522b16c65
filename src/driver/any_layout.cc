#include "any_layout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "archive_reader.h"
#include "base64_table.h"
#include "line_ends.h"
#include "messages.h"
#include "offline_links.h"
#include "output_dir.h"
#include "part_decoder.h"
#include "part_names.h"
#include "path_guard.h"
#include "reference_rewriter.h"
#include "stream_decoder.h"
#include "text.h"

namespace {

// The "enc:" of a transfer encoding: 1 base64, 0 quoted-printable, 2 any
// other (7bit, 8bit, binary, unknown), written as it stands.
int encoding_number(const std::string& transfer_encoding) {
  if (transfer_encoding == "base64") return 1;
  if (transfer_encoding == "quoted-printable") return 0;
  return 2;
}

// Bodies are read back by their offsets, so only a regular file will do.
int open_regular_file(const std::string& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  struct stat status {};
  if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
    ::close(fd);
    fd = -1;
  }
  return fd;
}

// Reads the encoded body in large blocks; a file that shrank under us ends
// the body where it ends.
void read_body(const std::string& path, int file, const MimeLeaf& leaf,
               Text& body) {
  body.clear();
  body.reserve_more(leaf.body_length);
  std::uint64_t done = 0;
  while (done < leaf.body_length) {
    std::uint64_t count = leaf.body_length - done;
    if (count > READ_BLOCK) count = READ_BLOCK;
    const ssize_t got = ::pread(file, body.data() + body.size(), count,
                                static_cast<off_t>(leaf.body_offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail_cannot_open(path);
    if (got == 0) break;
    body.grow_size(static_cast<std::size_t>(got));
    done += static_cast<std::uint64_t>(got);
  }
}

// 1 for a byte outside the RFC 2045 alphabet and "=", else 0. Byte
// arithmetic without branches or bit tests, so that loops over it vectorise.
std::uint8_t is_stray(std::uint8_t c) {
  const auto letter = static_cast<std::uint8_t>((c | 0x20) - 'a');
  const auto digit = static_cast<std::uint8_t>(c - '0');
  std::uint8_t ok = static_cast<std::uint8_t>(letter < 26) |
                    static_cast<std::uint8_t>(digit < 10);
  // "+" (0x2B) and "/" (0x2F) are the two bytes that OR 4 makes 0x2F.
  ok |= static_cast<std::uint8_t>((c | 4) == 0x2F) |
        static_cast<std::uint8_t>(c == '=');
  return ok ^ 1U;
}

// Base64 without its line ends; with the RFC 2045 alphabet, any other byte
// that is no part of it (blanks, stray characters) is skipped too.
void cut_base64(const Text& body, Text& cut, bool rfc2045) {
  cut.clear();
  cut.reserve_more(body.size());
  const std::size_t size = copy_without_line_ends(body.view(), cut.data());
  cut.grow_size(size);
  if (!rfc2045) return;
  auto* bytes = reinterpret_cast<std::uint8_t*>(cut.data());
  std::uint8_t stray = 0;
  for (std::size_t i = 0; i < size; ++i) stray |= is_stray(bytes[i]);
  if (stray == 0) return;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < size; ++i)
    if (is_stray(bytes[i]) == 0) bytes[kept++] = bytes[i];
  cut.shrink_to(kept);
}

// "report" for ".../report.mht".
std::string archive_stem(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

// The parts whose references --offline rewrites.
std::optional<PartSyntax> page_syntax(const MimeLeaf& leaf) {
  if (leaf.content_type == "text/html") return PartSyntax::html;
  if (leaf.content_type == "text/css") return PartSyntax::css;
  return std::nullopt;
}

// Feeds a page to `decoder` with its references pointed at the files of
// the parts they name.
void feed_offline_page(PartDecoder& decoder, std::string_view body,
                       const std::string& name, const MimeLeaf& leaf,
                       PartSyntax syntax, OfflineLinks& links,
                       std::size_t index) {
  const ReferenceResolver resolve = [&](std::string_view reference,
                                        std::string_view base) {
    return links.resolve(index, reference, base);
  };
  feed_filtered(
      decoder, body, [&](std::string_view decoded, const PieceWriter& write) {
        const RewriteReport report =
            rewrite_references(decoded, syntax, leaf.charset, resolve, write);
        if (report.status == RewriteStatus::unsupported_charset)
          note_charset_not_rewritten(name, leaf.charset);
      });
}

// The bytes a part's file would hold, counted without a file.
std::uint64_t decoded_size(std::string_view body, int encoding) {
  if (encoding == 2) return body.size();
  static const Base64Decoder counting_table(base64table_of(RFC2045_ALPHABET));
  StreamDecoder decoder(encoding == 1 ? &counting_table : nullptr);
  CountingSink size;
  decoder.feed(body, size);
  decoder.finish(size);
  return size.count();
}

// The directory part of a part's path ("" for a name without "/").
std::string directory_of(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

}  // namespace

AnyLayoutArchive::AnyLayoutArchive(const std::string& path,
                                   const AnyLayoutOptions& options)
    : path_(path), options_(options), fd_(open_regular_file(path)) {
  if (fd_ < 0) fail_cannot_open(path);
  mime_ = parse_mime_archive(fd_);
  if (mime_.layout == MimeLayout::not_mime) fail_not_mime(path);
  // MIME defines base64: without a table of its own the run uses RFC 2045.
  if (!base64table.table_loaded) {
    if (options.own_table)
      ensure_base64table();
    else
      set_base64table(base64table_of(RFC2045_ALPHABET));
  }

  const std::string stem = archive_stem(path);
  const bool single = mime_.layout == MimeLayout::single;
  // Every name is known before the first part is written: a page may refer
  // to parts that come after it.
  names_.reserve(mime_.leaves.size());
  PartNameAllocator allocator;
  for (const MimeLeaf& leaf : mime_.leaves) {
    const PartNaming naming{leaf.location, leaf.base_location, leaf.content_id,
                            leaf.content_type, names_.size() + 1};
    names_.push_back(allocator.allocate(part_path(naming, stem, single)));
  }
}

AnyLayoutArchive::~AnyLayoutArchive() { ::close(fd_); }

void AnyLayoutArchive::extract(int root, const std::string& root_path) {
  const bool rfc2045 = is_rfc2045_table(base64table);
  std::optional<OfflineLinks> links;
  if (options_.offline) links.emplace(mime_, names_);

  DirectoryCache directories(root);
  Text body;
  Text cut;
  for (std::size_t index = 0; index < mime_.leaves.size(); ++index) {
    const MimeLeaf& leaf = mime_.leaves[index];
    const std::string& name = names_[index];
    const int encoding = encoding_number(leaf.transfer_encoding);
    read_body(path_, fd_, leaf, body);
    if (encoding == 1) {
      cut_base64(body, cut, rfc2045);
      std::swap(body, cut);
    }
    const std::optional<PartSyntax> syntax =
        links ? page_syntax(leaf) : std::nullopt;
    PartDecoder decoder(encoding, root, syntax.has_value());
    if (syntax)
      feed_offline_page(decoder, body.view(), name, leaf, *syntax, *links,
                        index);
    else
      decoder.feed(body.view());
    decoder.finish();
    check_part_path(name);
    Reach reach = Reach::failed;
    const int dir = directories.reach(directory_of(name), reach);
    if (reach == Reach::outside) fail_unsafe_path(name);
    if (write_part(decoder, name, dir) != 0) fail_cannot_create();
  }
  if (links && links->main_page() < names_.size())
    say_main_page(root_path + names_[links->main_page()]);
}

void AnyLayoutArchive::list(ListTotal& total) {
  const bool rfc2045 = is_rfc2045_table(base64table);
  Text body;
  Text cut;
  for (std::size_t index = 0; index < mime_.leaves.size(); ++index) {
    const MimeLeaf& leaf = mime_.leaves[index];
    const int encoding = encoding_number(leaf.transfer_encoding);
    read_body(path_, fd_, leaf, body);
    if (encoding == 1) {
      cut_base64(body, cut, rfc2045);
      std::swap(body, cut);
    }
    const std::uint64_t size = decoded_size(body.view(), encoding);
    say_list_entry(size, encoding, names_[index],
                   !is_safe_part_path(names_[index]));
    total.size += size;
    ++total.parts;
  }
}

#include "single_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "archive_reader.h"
#include "archive_stem.h"
#include "base64_encoder.h"
#include "file_open.h"
#include "messages.h"
#include "page_rewrite.h"
#include "part_decoder.h"
#include "path_guard.h"
#include "progress.h"
#include "transfer_encoding.h"

namespace {

// What the inlined parts' encoded bodies may add up to: this many times the
// archive, and a floor for small archives with a picture used many times.
constexpr std::uint64_t INLINE_BUDGET_FACTOR = 8;
constexpr std::uint64_t INLINE_BUDGET_FLOOR = std::uint64_t{64} << 20;

// A byte a media type or charset may hold inside a data: URI: one that
// ends no attribute, srcset candidate or CSS token, and escapes nothing.
bool token_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '!' || c == '#' || c == '$' ||
         c == '^' || c == '_' || c == '.' || c == '+' || c == '-';
}

bool is_token(std::string_view text) {
  return !text.empty() && std::ranges::all_of(text, token_byte);
}

// "type/subtype" as the archive says it when it is one, else the type any
// browser takes for unknown bytes.
std::string media_type(std::string_view type) {
  if (type.empty()) return "text/plain";
  const std::size_t slash = type.find('/');
  if (slash == std::string_view::npos || !is_token(type.substr(0, slash)) ||
      !is_token(type.substr(slash + 1)))
    return "application/octet-stream";
  return std::string(type);
}

// Hands what a DecodeSink is given on to a ByteSink.
class ByteSinkAdapter final : public DecodeSink {
 public:
  explicit ByteSinkAdapter(const ByteSink& write) : write_(write) {}
  void put(const char* bytes, std::size_t count) override {
    if (count > 0) write_({bytes, count});
  }

 private:
  const ByteSink& write_;
};

// Pages and stylesheets rewritten one inside another at most: each level
// holds a read block and a token of its own. A part deeper than that is
// inlined as it stands.
constexpr std::size_t MAX_DEPTH = 5;

// The part a marked answer or an expander's key names.
std::size_t part_of(std::string_view key) {
  if (key.starts_with(INLINE_MARK)) key.remove_prefix(1);
  std::size_t part = 0;
  for (const char c : key) part = part * 10 + static_cast<std::size_t>(c - '0');
  return part;
}

// An unnamed file for a rewritten part, written in blocks and read back.
class ScratchFile final : public DecodeSink {
 public:
  explicit ScratchFile(int dir)
      : fd_(openat_retrying(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)) {
    if (fd_ < 0)
      fd_ = open_retrying(P_tmpdir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    buffer_.reserve(BUFFER);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] bool is_open() const { return fd_ >= 0; }
  [[nodiscard]] int get() const { return fd_; }

  void put(const char* bytes, std::size_t count) override {
    if (buffer_.size() + count > BUFFER) flush();
    if (count >= BUFFER)
      send(bytes, count);
    else
      buffer_.append(bytes, count);
  }
  // Writes what waits; false when any write failed.
  bool flush() {
    send(buffer_.data(), buffer_.size());
    buffer_.clear();
    return !failed_;
  }

 private:
  static constexpr std::size_t BUFFER = std::size_t{1} << 16;
  int fd_;
  std::string buffer_;
  bool failed_ = false;

  void send(const char* bytes, std::size_t count) {
    if (!failed_ && !::write_all(fd_, bytes, count)) failed_ = true;
  }
};

// The page on standard output, through the catalogue's blocks.
class StandardOutputSink final : public DecodeSink {
 public:
  void put(const char* bytes, std::size_t count) override {
    say_page_bytes({bytes, count});
  }
};

}  // namespace

std::string single_file_name(std::string_view archive_path) {
  return std::string(archive_stem(archive_path)).append(".html");
}

SingleFile::SingleFile(const MimeSource& source, const Base64Decoder& base64,
                       int scratch)
    : source_(source),
      base64_(base64),
      links_(source.archive(), source.names()),
      scratch_(scratch),
      seen_(source.archive().leaves.size(), false),
      active_(source.archive().leaves.size(), false),
      blocks_(MAX_DEPTH + 1),
      read_against_(MAX_DEPTH + 1) {
  links_.answer_with_parts(true);
  struct stat archive {};
  const std::uint64_t size = ::fstat(source.file(), &archive) == 0
                                 ? static_cast<std::uint64_t>(archive.st_size)
                                 : 0;
  inline_budget_ = INLINE_BUDGET_FACTOR * size + INLINE_BUDGET_FLOOR;
}

RewriteReport SingleFile::write(DecodeSink& out) {
  return rewrite(main_page(), PartSyntax::html, out);
}

RewriteReport SingleFile::rewrite(std::size_t index, PartSyntax syntax,
                                  DecodeSink& out) {
  const MimeLeaf& leaf = source_.archive().leaves[index];
  active_[index] = true;
  const std::size_t level = depth_++;
  const bool inherits = level > 0 && !links_.is_base(index);
  read_against_[level] =
      inherits ? read_against_[level - 1] : ReadAgainst{index, {}};
  RewritingSink rewriting(
      syntax, leaf.charset,
      [this, level, inherits](std::string_view reference, std::string_view base)
          -> std::optional<std::string> {
        ReadAgainst& against = read_against_[level];
        if (!inherits && against.base != base) against.base = base;
        std::optional<std::string> answer =
            links_.resolve(against.part, reference, against.base);
        if (answer && answer->starts_with(INLINE_MARK) &&
            active_[part_of(*answer)]) {
          if (!cycle_noted_)
            note_cycle_kept(source_.path(), source_.names()[part_of(*answer)]);
          cycle_noted_ = true;
          return std::nullopt;
        }
        if (answer && answer->starts_with(INLINE_MARK)) {
          const std::uint64_t cost =
              source_.archive().leaves[part_of(*answer)].body_length;
          if (cost > inline_budget_) {
            if (!budget_noted_) note_inline_budget(source_.path());
            budget_noted_ = true;
            return std::nullopt;
          }
          inline_budget_ -= cost;
        }
        return answer;
      },
      out);
  rewriting.expand_with([this](std::string_view key, const ByteSink& write) {
    write_data_uri(part_of(key), write);
  });
  rewriting.resolve_links_with(
      [this, index](std::string_view reference, std::string_view base) {
        return links_.absolute_link(index, reference, base);
      });
  if (block_network_ && syntax == PartSyntax::html)
    rewriting.insert_first_in_head(std::string(SINGLE_FILE_POLICY));
  decode_part(index, blocks_[depth_ - 1], rewriting);
  rewriting.finish();
  --depth_;
  active_[index] = false;
  return rewriting.report();
}

void SingleFile::write_data_uri(std::size_t index, const ByteSink& write) {
  const MimeLeaf& leaf = source_.archive().leaves[index];
  std::string head = "data:" + media_type(leaf.content_type);
  // Text is read in the charset it was written in.
  if (leaf.content_type.starts_with("text/") && is_token(leaf.charset))
    head.append(";charset=").append(leaf.charset);
  head.append(";base64,");
  write(head);
  ByteSinkAdapter adapter(write);
  Base64EncodingSink encoder(adapter);
  // A stylesheet or a frame's page names parts of its own: it is rewritten
  // first, unless the nesting is already as deep as it may go.
  const bool css = leaf.content_type == "text/css";
  if ((css || leaf.content_type == "text/html") && depth_ < MAX_DEPTH)
    encode_rewritten(index, css ? PartSyntax::css : PartSyntax::html, encoder);
  else
    decode_part(index, blocks_[depth_], encoder);
  encoder.finish();
  if (!seen_[index]) {
    seen_[index] = true;
    inlined_.push_back({index, encoder.taken()});
  }
}

void SingleFile::encode_rewritten(std::size_t index, PartSyntax syntax,
                                  DecodeSink& out) {
  ScratchFile file(scratch_);
  if (!file.is_open()) fail_cannot_create();
  rewrite(index, syntax, file);
  if (!file.flush()) fail_write(source_.names()[index]);
  Text& block = blocks_[depth_];
  if (block.capacity() == 0) block.reserve_more(READ_BLOCK);
  for (std::uint64_t done = 0;;) {
    const ssize_t got =
        ::pread(file.get(), block.data(), READ_BLOCK, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail_write(source_.names()[index]);
    if (got == 0) break;
    done += static_cast<std::uint64_t>(got);
    out.put(block.data(), static_cast<std::size_t>(got));
  }
}

void SingleFile::decode_part(std::size_t index, Text& block, DecodeSink& sink) {
  const MimeLeaf& leaf = source_.archive().leaves[index];
  const Encoding encoding = encoding_named(leaf.transfer_encoding);
  const bool base64 = encoding == Encoding::base64;
  StreamDecoder decoder(base64 ? &base64_ : nullptr, vector_level(),
                        base64 && source_.reads_rfc2045() ? Base64Input::rfc2045
                                                          : Base64Input::table);
  if (block.capacity() == 0) block.reserve_more(READ_BLOCK);
  std::uint64_t done = 0;
  while (done < leaf.body_length) {
    std::uint64_t count = leaf.body_length - done;
    if (count > READ_BLOCK) count = READ_BLOCK;
    const ssize_t got = ::pread(source_.file(), block.data(), count,
                                static_cast<off_t>(leaf.body_offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail_cannot_open(source_.path());
    // A file that shrank under us ends the body where it ends.
    if (got == 0) break;
    done += static_cast<std::uint64_t>(got);
    progress_read(static_cast<std::uint64_t>(got));
    const std::string_view run(block.data(), static_cast<std::size_t>(got));
    if (encoding == Encoding::as_is)
      sink.put(run.data(), run.size());
    else
      decoder.feed(run, sink);
  }
  if (encoding != Encoding::as_is) decoder.finish(sink);
}

void write_single_file(const MimeSource& source, DecodeTable& table, int root,
                       const std::string& shown_root, bool no_network) {
  SingleFile single(source, *table.decoder(), root);
  if (no_network) single.block_network();
  const std::size_t page = single.main_page();
  if (page >= source.names().size()) {
    note_no_main_page(source.path());
    return;
  }
  const std::string name = single_file_name(source.path());
  // An archive saved as "page.html" would be replaced by its own page.
  struct stat archive {};
  struct stat there {};
  if (::fstat(source.file(), &archive) == 0 &&
      ::fstatat(root, name.c_str(), &there, 0) == 0 &&
      archive.st_dev == there.st_dev && archive.st_ino == there.st_ino) {
    say_writing(name, Encoding::as_is);
    fail_cannot_create();
  }
  PartDecoder file(Encoding::as_is, table, root);
  const RewriteReport report = single.write(file.sink);
  if (report.status == RewriteStatus::unsupported_charset)
    note_charset_not_rewritten(source.names()[page], report.charset);
  check_part_path(name);
  if (write_part(file, name, root) != 0) fail_cannot_create();
  say_main_page(shown_root + name);
}

void put_single_file(const MimeSource& source, DecodeTable& table, int scratch,
                     bool no_network) {
  SingleFile single(source, *table.decoder(), scratch);
  if (no_network) single.block_network();
  const std::size_t page = single.main_page();
  if (page >= source.names().size()) {
    note_no_main_page(source.path());
    return;
  }
  StandardOutputSink out;
  const RewriteReport report = single.write(out);
  if (report.status == RewriteStatus::unsupported_charset)
    note_charset_not_rewritten(source.names()[page], report.charset);
}

void list_single_file(const MimeSource& source, DecodeTable& table,
                      int scratch) {
  SingleFile single(source, *table.decoder(), scratch);
  say_list_header();
  CountingSink size;
  if (single.main_page() < source.names().size()) single.write(size);
  for (const SingleFile::Inlined& part : single.inlined())
    say_list_entry(
        part.size,
        encoding_named(source.archive().leaves[part.part].transfer_encoding),
        source.names()[part.part], false);
  if (single.main_page() >= source.names().size()) {
    say_list_total(0, 0);
    return;
  }
  const std::string name = single_file_name(source.path());
  say_list_entry(size.count(), Encoding::as_is, name, false);
  say_list_total(size.count(), 1);
}

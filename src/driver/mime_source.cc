#include "mime_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive_reader.h"
#include "archive_stem.h"
#include "file_open.h"
#include "line_ends.h"
#include "messages.h"
#include "part_names.h"

namespace {

// Bodies are read back by their offsets, so only a regular file will do.
// Opened without waiting, so that a FIFO without a writer is refused at
// once rather than hanging the open.
int open_regular_file(const std::string& path) {
  const int fd = open_retrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
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

// Drops the stray bytes of `bytes` in place; the bytes kept. Each byte is
// judged alone, so a block at a time is exact. Checked 64 bytes at a time
// (a loop that vectorises), so clean stretches are only moved.
std::size_t cut_stray_bytes(char* bytes, std::size_t size) {
  constexpr std::size_t STRETCH = 64;
  auto* data = reinterpret_cast<std::uint8_t*>(bytes);
  std::size_t kept = 0;
  for (std::size_t start = 0; start < size; start += STRETCH) {
    const std::size_t end = std::min(size, start + STRETCH);
    std::uint8_t stray = 0;
    for (std::size_t i = start; i < end; ++i) stray |= is_stray(data[i]);
    if (stray == 0) {
      if (kept != start) std::memmove(data + kept, data + start, end - start);
      kept += end - start;
      continue;
    }
    for (std::size_t i = start; i < end; ++i)
      if (is_stray(data[i]) == 0) data[kept++] = data[i];
  }
  return kept;
}

// Base64 without its line ends and stray bytes: whole lines lose their
// line ends by the vector copy, what is left is sifted. Returns the bytes
// written to `out`, which needs room for `lines.size()`.
std::size_t cut_base64_block(std::string_view lines, char* out) {
  const std::size_t last_lf = lines.rfind('\n');
  std::size_t size = 0;
  std::size_t rest = 0;
  if (last_lf != std::string_view::npos) {
    size = copy_without_line_ends(lines.substr(0, last_lf + 1), out);
    rest = last_lf + 1;
  }
  std::memcpy(out + size, lines.data() + rest, lines.size() - rest);
  size += lines.size() - rest;
  return cut_stray_bytes(out, size);
}

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

MimeSource::MimeSource(const std::string& path)
    : path_(path), file_(open_regular_file(path)) {
  if (file_.get() < 0) fail_cannot_open(path);
  mime_ = parse_mime_archive(file_.get());
  if (mime_.layout == MimeLayout::not_mime) fail_not_mime(path);

  const std::string_view stem = archive_stem(path);
  const bool single = mime_.layout == MimeLayout::single;
  // Every name is known before the first part is handed out: a page may
  // refer to parts that come after it.
  names_.reserve(mime_.leaves.size());
  PartNameAllocator allocator;
  for (const MimeLeaf& leaf : mime_.leaves) {
    const PartNaming naming{leaf.location, leaf.base_location, leaf.content_id,
                            leaf.content_type, names_.size() + 1};
    names_.push_back(allocator.allocate(part_path(naming, stem, single)));
  }
}

bool MimeSource::next(SourcePart& part) {
  if (next_ >= mime_.leaves.size()) return false;
  const std::size_t index = next_++;
  leaf_ = &mime_.leaves[index];
  done_ = 0;
  last_byte_ = 0;
  part.path = names_[index];
  const std::size_t slash = part.path.rfind('/');
  part.directory =
      slash == std::string::npos ? std::string() : part.path.substr(0, slash);
  part.encoding = encoding_named(leaf_->transfer_encoding);
  part.index = index;
  cut_ = skip_stray_ && part.encoding == Encoding::base64;
  return true;
}

std::string_view MimeSource::read_body() {
  if (leaf_ == nullptr) return {};
  if (block_.capacity() == 0) block_.reserve_more(READ_BLOCK);
  for (;;) {
    // A file that shrank under us ends the body where it ends.
    if (done_ >= leaf_->body_length) return {};
    std::uint64_t count = leaf_->body_length - done_;
    if (count > READ_BLOCK) count = READ_BLOCK;
    const ssize_t got = ::pread(file_.get(), block_.data(), count,
                                static_cast<off_t>(leaf_->body_offset + done_));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail_cannot_open(path_);
    if (got == 0) {
      done_ = leaf_->body_length;
      return {};
    }
    done_ += static_cast<std::uint64_t>(got);
    std::string_view run(block_.data(), static_cast<std::size_t>(got));
    if (!cut_) return run;
    // Until the stream decoder skips stray bytes itself, they are cut here,
    // block by block: swap this for its mode once it has one.
    const char before = last_byte_;
    last_byte_ = run.back();
    // A body whose last line ends in CR and one more byte loses both, as
    // a line end is cut from a last line.
    if (done_ == leaf_->body_length && run.back() != '\n' &&
        (run.size() >= 2 ? run[run.size() - 2] : before) == '\r')
      run.remove_suffix(1);
    if (cut_block_.capacity() == 0) cut_block_.reserve_more(READ_BLOCK);
    const std::size_t size = cut_base64_block(run, cut_block_.data());
    // A block of nothing but stray bytes is no end of the body.
    if (size > 0) return {cut_block_.data(), size};
  }
}

#include "mime_archive.h"

#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

// GMime reads the grammar of every header block: fields in any order and
// case, folding, quoted and RFC 2231 parameters, the boundary. Where bodies
// begin and end is found here, in large reads and a substring search, which
// is several times faster than letting GMime scan the whole archive, and
// follows what Python's email package makes of the same bytes.

namespace {

// Bytes read at a time while looking for boundaries; fuzz builds shrink it
// so that boundaries straddle reads.
#ifndef MIMEUNPACK_READ_BLOCK
#define MIMEUNPACK_READ_BLOCK (1 << 20)
#endif
constexpr std::size_t SCAN_BLOCK = MIMEUNPACK_READ_BLOCK;
// A header block longer than this ends there; the rest is body.
constexpr std::size_t MAX_HEADER_BYTES = std::size_t{8} << 20;
// Multiparts nested deeper than this are taken as single parts.
constexpr int MAX_DEPTH = 64;

struct ObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, ObjectUnref>;

struct Free {
  void operator()(void* memory) const { g_free(memory); }
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_line_end(char c) { return c == '\r' || c == '\n'; }

std::string_view trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string trimmed(const char* text) {
  return text ? std::string(trim(text)) : std::string();
}

std::string lower_trimmed(const char* text) {
  std::string out = trimmed(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Length of the line end at the start of `text` (CR LF, LF or a lone CR).
std::size_t line_end_length(std::string_view text) {
  if (text.empty() || !is_line_end(text[0])) return 0;
  return text.size() > 1 && text[0] == '\r' && text[1] == '\n' ? 2 : 1;
}

// A header line as Python's email parser tells one: "From ", a field name
// of printable bytes (possibly empty) and ":", or a folded continuation.
bool is_header_line(std::string_view line) {
  if (line.starts_with("From ")) return true;
  if (!line.empty() && is_blank(line[0])) return true;
  for (const char c : line) {
    if (c == ':') return true;
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x21 || byte > 0x7e) return false;
  }
  return false;
}

struct Block {
  std::unique_ptr<char[]> data;
  std::size_t capacity = 0;
  std::size_t size = 0;
  [[nodiscard]] std::string_view view() const { return {data.get(), size}; }
};

class ArchiveFile {
 public:
  ArchiveFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  [[nodiscard]] std::uint64_t size() const { return size_; }

  // Up to `count` bytes from `offset`, fewer at the end of `limit`.
  [[nodiscard]] std::string read(std::uint64_t offset, std::size_t count,
                                 std::uint64_t limit) const {
    std::string out;
    if (offset >= limit) return out;
    if (limit - offset < count)
      count = static_cast<std::size_t>(limit - offset);
    out.resize(count);
    out.resize(read_at(out.data(), offset, count));
    return out;
  }

  // The same into `out`, whose memory is reused and never cleared first:
  // large blocks read into fresh or zeroed memory would touch every page of
  // the archive once more.
  void read_into(Block& out, std::uint64_t offset, std::size_t count,
                 std::uint64_t limit) const {
    out.size = 0;
    if (offset >= limit) return;
    if (limit - offset < count)
      count = static_cast<std::size_t>(limit - offset);
    if (out.capacity < count) {
      out.data = std::make_unique_for_overwrite<char[]>(count);
      out.capacity = count;
    }
    out.size = read_at(out.data.get(), offset, count);
  }

 private:
  int fd_;
  std::uint64_t size_;

  std::size_t read_at(char* out, std::uint64_t offset,
                      std::size_t count) const {
    std::size_t done = 0;
    while (done < count) {
      const ssize_t got = ::pread(fd_, out + done, count - done,
                                  static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }
};

// A delimiter line "--boundary" ("--" more for the close delimiter), with
// the line end before it, which belongs to it.
struct Delimiter {
  std::uint64_t begin;  // where the line end before it starts
  std::uint64_t start;  // where "--boundary" starts
  std::uint64_t after;  // the first byte after its line
  bool close;
};

class Walker {
 public:
  Walker(const ArchiveFile& file, MimeArchive& archive)
      : file_(file), archive_(archive) {}

  // Reads the entity in [begin, end). Returns false when it is the top
  // entity and has no Content-Type: not a MIME archive.
  bool walk(std::uint64_t begin, std::uint64_t end,
            const std::string& base_location, int depth) {
    std::uint64_t body = begin;
    const std::string headers = read_headers(begin, end, body);
    const GObjectPtr<GMimeObject> object = interpret(headers);
    if (depth == 0) {
      if (!object || !g_mime_object_get_header(object.get(), "Content-Type"))
        return false;
    }
    GMimeObject* const facts = object.get();
    std::string location =
        facts ? trimmed(g_mime_object_get_header(facts, "Content-Location"))
              : std::string();
    const std::string& base = location.empty() ? base_location : location;
    GMimeContentType* type =
        facts ? g_mime_object_get_content_type(facts) : nullptr;
    const std::string mime_type = type_of(type);

    if (depth == 0)
      archive_.layout = mime_type.starts_with("multipart/")
                            ? MimeLayout::multipart
                            : MimeLayout::single;
    if (mime_type.starts_with("multipart/") && depth < MAX_DEPTH) {
      if (depth == 0)
        archive_.start =
            trimmed(g_mime_content_type_get_parameter(type, "start"));
      const std::string boundary =
          trimmed(g_mime_content_type_get_parameter(type, "boundary"));
      std::uint64_t leaf_end = end;
      if (!boundary.empty() &&
          walk_parts(boundary, body, end, base, depth, leaf_end))
        return true;
      // No boundary, or no part: the body is one part, as it stands.
      add_leaf(facts, type, mime_type, location, base_location, body, leaf_end);
      return true;
    }
    if (mime_type == "message/rfc822" && depth < MAX_DEPTH) {
      walk(body, end, base, depth + 1);
      return true;
    }
    add_leaf(facts, type, mime_type, location, base_location, body, end);
    return true;
  }

 private:
  const ArchiveFile& file_;
  MimeArchive& archive_;
  // The block being searched for boundaries, one for each depth, since a
  // part's own parts are searched while its parent's block is in use.
  std::vector<Block> windows_ =
      std::vector<Block>(static_cast<std::size_t>(MAX_DEPTH));

  static std::string type_of(GMimeContentType* type) {
    if (type == nullptr) return "text/plain";
    const std::unique_ptr<char, Free> mime_type(
        g_mime_content_type_get_mime_type(type));
    return lower_trimmed(mime_type.get());
  }

  // The header block from `begin`: lines up to an empty line (which is
  // dropped) or a line that is no header (which starts the body).
  std::string read_headers(std::uint64_t begin, std::uint64_t end,
                           std::uint64_t& body) const {
    std::string block;
    std::size_t line = 0;  // start of the line being looked at
    std::uint64_t offset = begin;
    for (;;) {
      std::size_t next = block.find_first_of("\r\n", line);
      bool at_end = false;
      while (next == std::string::npos || next + 1 >= block.size()) {
        // The line (or the LF after its CR) may not have been read yet.
        if (offset >= end || block.size() >= MAX_HEADER_BYTES) {
          at_end = true;
          break;
        }
        // Header blocks are small: read a little, then more each time.
        const std::string more =
            file_.read(offset, block.size() < 4096 ? 4096 : block.size(), end);
        if (more.empty()) {
          at_end = true;
          break;
        }
        offset += more.size();
        block.append(more);
        next = block.find_first_of("\r\n", line);
      }
      if (next == std::string::npos) next = block.size();
      const std::string_view text(block.data() + line, next - line);
      const std::size_t ending =
          line_end_length(std::string_view(block).substr(next));
      if (text.empty()) {
        // The empty line between header and body.
        body = begin + next + ending;
        block.resize(line);
        return block;
      }
      if (!is_header_line(text) || (at_end && next == block.size() &&
                                    block.size() >= MAX_HEADER_BYTES)) {
        body = begin + line;
        block.resize(line);
        return block;
      }
      line = next + ending;
      if (line >= block.size() && at_end) {
        body = begin + line;
        return block;
      }
    }
  }

  // GMime's reading of a header block; none when it makes nothing of it.
  static GObjectPtr<GMimeObject> interpret(std::string headers) {
    // A mailbox "From " line first is no header field.
    if (headers.starts_with("From ")) {
      const std::size_t next = headers.find_first_of("\r\n");
      headers.erase(
          0,
          next == std::string::npos
              ? headers.size()
              : next + line_end_length(std::string_view(headers).substr(next)));
    }
    headers.append("\n\n");
    const GObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(headers.data(), headers.size()));
    const GObjectPtr<GMimeParser> parser(
        g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    return GObjectPtr<GMimeObject>(
        g_mime_parser_construct_part(parser.get(), nullptr));
  }

  // Where "--boundary" at `start` is a delimiter line, fills `delimiter`.
  bool delimiter_at(std::uint64_t begin, std::uint64_t end, std::uint64_t start,
                    std::size_t needle_size, Delimiter& delimiter) const {
    // It must start a line.
    std::uint64_t before = start;
    if (start > begin) {
      const std::uint64_t from =
          start - 2 >= begin && start >= 2 ? start - 2 : begin;
      const std::string prior = file_.read(from, start - from, end);
      if (prior.empty() || !is_line_end(prior.back())) return false;
      before = start - 1;
      if (prior.size() == 2 && prior[0] == '\r' && prior[1] == '\n')
        before = start - 2;
    }
    // Then "--" perhaps, blanks, and the end of the line.
    std::uint64_t offset = start + needle_size;
    std::string tail = file_.read(offset, 256, end);
    bool close = false;
    std::size_t i = 0;
    if (tail.starts_with("--")) {
      close = true;
      i = 2;
    }
    for (;;) {
      while (i < tail.size() && is_blank(tail[i])) ++i;
      if (i < tail.size() || offset + tail.size() >= end) break;
      offset += tail.size();
      tail = file_.read(offset, 256, end);
      i = 0;
    }
    if (i < tail.size() && !is_line_end(tail[i])) return false;
    std::uint64_t after = offset + i;
    if (i < tail.size()) {
      if (tail[i] == '\r' && i + 1 >= tail.size() && after + 1 < end)
        tail.append(file_.read(offset + tail.size(), 1, end));
      after += line_end_length(std::string_view(tail).substr(i));
    }
    delimiter = {before, start, after, close};
    return true;
  }

  // Splits the body [begin, end) of a multipart at its delimiter lines and
  // walks each part. When no part begins, returns false with `leaf_end`
  // where the body, taken as one part, ends.
  bool walk_parts(const std::string& boundary, std::uint64_t begin,
                  std::uint64_t end, const std::string& base, int depth,
                  std::uint64_t& leaf_end) {
    const std::string needle = "--" + boundary;
    std::uint64_t part_begin = 0;
    bool in_part = false;
    for (std::uint64_t pos = begin; pos < end; pos += SCAN_BLOCK) {
      Block& block = windows_[static_cast<std::size_t>(depth)];
      file_.read_into(block, pos, SCAN_BLOCK + needle.size() - 1, end);
      const std::string_view window = block.view();
      std::size_t from = 0;
      for (;;) {
        const void* hit =
            from < window.size()
                ? ::memmem(window.data() + from, window.size() - from,
                           needle.data(), needle.size())
                : nullptr;
        if (hit == nullptr) break;
        const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) -
                                                 window.data());
        from = at + 1;
        if (at >= SCAN_BLOCK) break;  // the next window finds it
        Delimiter delimiter{};
        if (!delimiter_at(begin, end, pos + at, needle.size(), delimiter))
          continue;
        // Delimiter lines right after an opening one open nothing more
        // (a close delimiter among them included).
        if (in_part && delimiter.start == part_begin) {
          part_begin = delimiter.after;
          continue;
        }
        if (in_part) {
          walk(part_begin,
               delimiter.begin < part_begin ? part_begin : delimiter.begin,
               base, depth + 1);
          if (delimiter.close) return true;
        } else if (delimiter.close) {
          // A close delimiter before any part: the body up to it is all.
          leaf_end = delimiter.start;
          return false;
        }
        in_part = true;
        part_begin = delimiter.after;
      }
    }
    if (!in_part) {
      leaf_end = end;
      return false;
    }
    // Cut off before its close delimiter: the part runs to the end, less
    // one line end.
    std::uint64_t part_end = end;
    if (part_end > part_begin) {
      const std::uint64_t from =
          part_end - part_begin >= 2 ? part_end - 2 : part_begin;
      const std::string last = file_.read(from, part_end - from, end);
      if (last.ends_with("\r\n"))
        part_end -= 2;
      else if (!last.empty() && is_line_end(last.back()))
        part_end -= 1;
    }
    walk(part_begin, part_end, base, depth + 1);
    return true;
  }

  void add_leaf(GMimeObject* facts, GMimeContentType* type,
                const std::string& mime_type, const std::string& location,
                const std::string& base_location, std::uint64_t begin,
                std::uint64_t end) {
    MimeLeaf leaf;
    leaf.content_type = mime_type;
    if (type != nullptr)
      leaf.charset =
          trimmed(g_mime_content_type_get_parameter(type, "charset"));
    if (facts != nullptr) {
      leaf.transfer_encoding = lower_trimmed(
          g_mime_object_get_header(facts, "Content-Transfer-Encoding"));
      leaf.content_id = trimmed(g_mime_object_get_content_id(facts));
    }
    leaf.location = location;
    leaf.base_location = base_location;
    leaf.body_offset = begin;
    leaf.body_length = end > begin ? end - begin : 0;
    archive_.leaves.push_back(std::move(leaf));
  }
};

}  // namespace

MimeArchive parse_mime_archive(int file) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { g_mime_init(); });

  MimeArchive archive;
  struct stat status {};
  if (::fstat(file, &status) != 0) return archive;
  const ArchiveFile bytes(file, static_cast<std::uint64_t>(status.st_size));
  Walker walker(bytes, archive);
  if (!walker.walk(0, bytes.size(), std::string(), 0)) {
    archive = MimeArchive{};
  }
  return archive;
}

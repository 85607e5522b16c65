#include "mime_archive.h"

#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "progress.h"

// GMime reads the grammar of every header block: fields in any order and
// case, folding, quoted and RFC 2231 parameters, the boundary. Where bodies
// begin and end is found here, in one pass over the archive in large reads:
// every line that starts with "--" is matched against the boundaries of all
// the multiparts open at that point, so nesting costs nothing extra, and the
// few bytes before a delimiter that decide where a body ends stay in memory.
// The result follows what Python's email package makes of the same bytes.

namespace {

// Bytes read at a time while looking for boundaries; fuzz builds shrink it
// so that boundaries straddle reads.
#ifndef MIMEUNPACK_READ_BLOCK
#define MIMEUNPACK_READ_BLOCK (1 << 20)
#endif
constexpr std::size_t SCAN_BLOCK = MIMEUNPACK_READ_BLOCK;
// A header block ends within this many bytes of its entity's start: a line
// whose end lies beyond it starts the body.
constexpr std::size_t MAX_HEADER_BYTES = std::size_t{8} << 20;
// Multiparts nested deeper than this are taken as single parts.
constexpr int MAX_DEPTH = 64;
// Bytes kept before the scan position: the line end before a delimiter and
// one line end cut from the last part of each open multipart.
constexpr std::size_t LOOK_BEHIND = 2 * MAX_DEPTH + 8;

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

bool equals_lower(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// The fields GMime is asked about; the rest of a header block is never
// handed to it, so thousands of other fields cost no memory.
bool is_wanted_field(std::string_view line, bool outermost) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view name = line.substr(0, colon);
  // The message's own few fields the archive's description shows.
  if (outermost &&
      (equals_lower(name, "subject") || equals_lower(name, "date") ||
       equals_lower(name, "snapshot-content-location")))
    return true;
  return equals_lower(name, "content-type") ||
         equals_lower(name, "content-location") ||
         equals_lower(name, "content-transfer-encoding") ||
         equals_lower(name, "content-id") ||
         equals_lower(name, "content-disposition");
}

// The archive's bytes around the scan position, read in large blocks. The
// bytes just before the position stay readable.
class Window {
 public:
  Window(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

  [[nodiscard]] std::uint64_t size() const { return size_; }

  // The bytes from `pos` on: at least `count` unless the file ends first.
  std::string_view from(std::uint64_t pos, std::size_t count) {
    pos = std::min(pos, size_);
    count =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - pos));
    if (pos < begin_ || pos + count > begin_ + length_) refill(pos, count);
    const auto skip = static_cast<std::size_t>(pos - begin_);
    return {data_.get() + skip, length_ - skip};
  }

  [[nodiscard]] bool holds(std::uint64_t pos) const {
    return pos >= begin_ && pos - begin_ < length_;
  }
  [[nodiscard]] char byte(std::uint64_t pos) const {
    return data_[static_cast<std::size_t>(pos - begin_)];
  }

 private:
  int fd_;
  std::uint64_t size_;
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::uint64_t begin_ = 0;
  std::size_t length_ = 0;

  // Keeps what is still wanted and reads at least a block more, so that
  // bytes moved never outnumber bytes read.
  void refill(std::uint64_t pos, std::size_t count) {
    const std::uint64_t keep = pos - std::min<std::uint64_t>(pos, LOOK_BEHIND);
    std::size_t kept = 0;
    if (keep >= begin_ && keep - begin_ < length_)
      kept = static_cast<std::size_t>(begin_ + length_ - keep);
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(
        std::max((pos - keep) + count, kept + std::max(count, SCAN_BLOCK)),
        size_ - keep));
    const char* old = data_.get() + (kept ? keep - begin_ : 0);
    if (want > capacity_) {
      // Memory for a read is never cleared: it would touch every page twice.
      auto bigger = std::make_unique_for_overwrite<char[]>(want);
      if (kept) std::memcpy(bigger.get(), old, kept);
      data_ = std::move(bigger);
      capacity_ = want;
    } else if (kept && old != data_.get()) {
      std::memmove(data_.get(), old, kept);
    }
    begin_ = keep;
    length_ = kept;
    length_ += read_at(data_.get() + kept, keep + kept, want - kept);
    // A read that fails ends the archive where the readable bytes end.
    if (length_ < want) size_ = begin_ + length_;
  }

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
    progress_read(done);
    return done;
  }
};

// A delimiter line "--boundary" ("--" more for the close delimiter), with
// the line end before it, which belongs to it.
struct Delimiter {
  std::uint64_t begin = 0;  // where the line end before it starts
  std::uint64_t start = 0;  // where "--boundary" starts
  std::uint64_t after = 0;  // the first byte after its line
  bool close = false;
  std::size_t level = 0;  // the multipart it belongs to
};

// A multipart whose body is being read.
struct Level {
  std::string boundary;
  std::size_t hash = 0;
  std::uint64_t body_begin = 0;
  bool in_part = false;
  std::uint64_t part_begin = 0;  // where the current part starts
  int depth = 0;
  std::string base;  // the base location of its parts
  MimeLeaf as_leaf;  // what it is when no part begins
};

class Scanner {
 public:
  Scanner(Window& window, MimeArchive& archive)
      : window_(window), archive_(archive) {}

  // Returns false when the top entity has no Content-Type: not MIME.
  bool run() {
    start_entity(0, 0, std::string());
    while (state_ != State::done) {
      if (state_ == State::headers)
        header_line();
      else
        body_run();
    }
    return !not_mime_;
  }

 private:
  enum class State { headers, leaf, scan, ignore, done };

  Window& window_;
  MimeArchive& archive_;
  std::vector<Level> levels_;  // the open multiparts, outermost first
  std::size_t longest_ = 0;    // their longest boundary
  State state_ = State::headers;
  std::uint64_t pos_ = 0;
  bool not_mime_ = false;

  // The entity whose header block is being read.
  std::uint64_t entity_begin_ = 0;
  int depth_ = 0;
  std::string entity_base_;  // the nearest enclosing Content-Location
  std::string fields_;       // the fields GMime reads, one per line
  std::size_t lines_ = 0;    // header lines seen
  bool keeping_ = false;     // the field being folded is in `fields_`

  std::size_t leaf_ = 0;          // the leaf whose body is being read
  std::uint64_t body_begin_ = 0;  // where the bytes being skipped began
  std::string behind_;            // bytes before a delimiter, saved
  std::uint64_t behind_begin_ = 0;

  [[nodiscard]] char byte_at(std::uint64_t pos) const {
    if (window_.holds(pos)) return window_.byte(pos);
    return behind_[static_cast<std::size_t>(pos - behind_begin_)];
  }

  void start_entity(std::uint64_t begin, int depth, std::string base) {
    state_ = State::headers;
    pos_ = begin;
    entity_begin_ = begin;
    depth_ = depth;
    entity_base_ = std::move(base);
    fields_.clear();
    lines_ = 0;
    keeping_ = false;
  }

  void enter_body(State state, std::uint64_t begin) {
    state_ = state;
    pos_ = begin;
    body_begin_ = begin;
  }

  void refresh_longest() {
    longest_ = 0;
    for (const Level& level : levels_)
      longest_ = std::max(longest_, level.boundary.size());
  }

  // One line of a header block at `pos_`, a line start.
  void header_line() {
    const std::uint64_t size = window_.size();
    if (pos_ >= size) {
      finish(size);
      return;
    }
    Delimiter delimiter;
    if (!levels_.empty() && delimiter_at(pos_, delimiter)) {
      take(delimiter);
      return;
    }
    const std::uint64_t limit =
        std::min<std::uint64_t>(entity_begin_ + MAX_HEADER_BYTES, size);
    if (pos_ >= limit) {
      end_headers(pos_);
      return;
    }
    const auto room = static_cast<std::size_t>(limit - pos_);
    std::size_t searched = 0;
    std::size_t want = 4096;
    for (;;) {
      std::string_view view = window_.from(pos_, std::min(want, room) + 1);
      const std::size_t usable = std::min(view.size(), room);
      std::size_t end = searched;
      while (end < usable && !is_line_end(view[end])) ++end;
      if (end < usable) {
        if (end + 1 >= view.size() && pos_ + end + 1 < size)
          view = window_.from(pos_, end + 2);
        header_line_found(view.substr(0, end),
                          line_end_length(view.substr(end)));
        return;
      }
      if (usable >= room) {
        if (limit == size)
          header_line_found(view.substr(0, room), 0);
        else
          end_headers(pos_);  // a line beyond the cap starts the body
        return;
      }
      searched = usable;
      want = std::max(want, usable) * 2;
    }
  }

  void header_line_found(std::string_view text, std::size_t ending) {
    if (text.empty()) {
      end_headers(pos_ + ending);
      return;
    }
    if (!is_header_line(text)) {
      end_headers(pos_);
      return;
    }
    const bool first = lines_++ == 0;
    if (first && text.starts_with("From ")) {
      // A mailbox "From " line first is no header field.
    } else if (fields_.empty() && !keeping_) {
      // GMime judges the whole block by its first line: kept as it is.
      keeping_ = true;
      fields_.append(text).push_back('\n');
    } else if (is_blank(text[0])) {
      if (keeping_) fields_.append(text).push_back('\n');
    } else {
      keeping_ = is_wanted_field(text, depth_ == 0);
      if (keeping_) fields_.append(text).push_back('\n');
    }
    pos_ += text.size() + ending;
  }

  void end_headers(std::uint64_t body) { dispatch(body, false, 0); }

  // GMime's reading of the kept fields; none when it makes nothing of them.
  static GObjectPtr<GMimeObject> interpret(std::string headers) {
    headers.append("\n\n");
    const GObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(headers.data(), headers.size()));
    const GObjectPtr<GMimeParser> parser(
        g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_format(parser.get(), GMIME_FORMAT_MESSAGE);
    return GObjectPtr<GMimeObject>(
        g_mime_parser_construct_part(parser.get(), nullptr));
  }

  static std::string type_of(GMimeContentType* type) {
    if (type == nullptr) return "text/plain";
    const std::unique_ptr<char, Free> mime_type(
        g_mime_content_type_get_mime_type(type));
    return lower_trimmed(mime_type.get());
  }

  // The name a mail gives an attachment. GMime joins RFC 2231 continuations
  // and converts their charset, and decodes RFC 2047 words, to UTF-8.
  static std::string filename_of(GMimeObject* facts) {
    const char* name =
        g_mime_object_get_content_disposition_parameter(facts, "filename");
    if (name == nullptr || trim(name).empty())
      name = g_mime_object_get_content_type_parameter(facts, "name");
    return trimmed(name);
  }

  // The header block of the entity is read; its body starts at `body`.
  // When `closed`, its range has already ended at `end`.
  void dispatch(std::uint64_t body, bool closed, std::uint64_t end) {
    const GObjectPtr<GMimeObject> object = interpret(fields_);
    if (depth_ == 0) {
      if (!object || !g_mime_object_get_header(object.get(), "Content-Type")) {
        not_mime_ = true;
        state_ = State::done;
        return;
      }
    }
    GMimeObject* const facts = object.get();
    const std::string location =
        facts ? trimmed(g_mime_object_get_header(facts, "Content-Location"))
              : std::string();
    std::string base = location.empty() ? entity_base_ : location;
    GMimeContentType* type =
        facts ? g_mime_object_get_content_type(facts) : nullptr;
    const std::string mime_type = type_of(type);

    MimeLeaf leaf;
    leaf.content_type = mime_type;
    if (type != nullptr)
      leaf.charset =
          trimmed(g_mime_content_type_get_parameter(type, "charset"));
    if (facts != nullptr) {
      leaf.transfer_encoding = lower_trimmed(
          g_mime_object_get_header(facts, "Content-Transfer-Encoding"));
      leaf.content_id = trimmed(g_mime_object_get_content_id(facts));
      leaf.filename = filename_of(facts);
    }
    leaf.location = location;
    leaf.base_location = entity_base_;
    leaf.body_offset = body;

    if (depth_ == 0 && facts != nullptr) {
      archive_.subject = trimmed(g_mime_object_get_header(facts, "Subject"));
      archive_.date = trimmed(g_mime_object_get_header(facts, "Date"));
      archive_.snapshot_location =
          trimmed(g_mime_object_get_header(facts, "Snapshot-Content-Location"));
    }
    if (depth_ == 0)
      archive_.layout = mime_type.starts_with("multipart/")
                            ? MimeLayout::multipart
                            : MimeLayout::single;
    if (mime_type.starts_with("multipart/") && depth_ < MAX_DEPTH) {
      if (depth_ == 0)
        archive_.start =
            trimmed(g_mime_content_type_get_parameter(type, "start"));
      std::string boundary =
          trimmed(g_mime_content_type_get_parameter(type, "boundary"));
      if (!boundary.empty() && !closed) {
        Level level;
        level.hash = std::hash<std::string_view>{}(boundary);
        level.boundary = std::move(boundary);
        level.body_begin = body;
        level.depth = depth_;
        level.base = std::move(base);
        level.as_leaf = std::move(leaf);
        levels_.push_back(std::move(level));
        refresh_longest();
        enter_body(State::scan, body);
        return;
      }
      // No boundary, or no room for a part: the body is one part.
    } else if (mime_type == "message/rfc822" && depth_ < MAX_DEPTH) {
      start_entity(body, depth_ + 1, std::move(base));
      if (closed) dispatch(end, true, end);
      return;
    }
    archive_.leaves.push_back(std::move(leaf));
    leaf_ = archive_.leaves.size() - 1;
    if (closed)
      end_leaf(end);
    else
      enter_body(State::leaf, body);
  }

  void end_leaf(std::uint64_t end) {
    MimeLeaf& leaf = archive_.leaves[leaf_];
    leaf.body_offset = std::min(leaf.body_offset, end);
    leaf.body_length = end - leaf.body_offset;
  }

  void add_leaf(MimeLeaf leaf, std::uint64_t begin, std::uint64_t end) {
    leaf.body_offset = std::min(begin, end);
    leaf.body_length = end - leaf.body_offset;
    archive_.leaves.push_back(std::move(leaf));
  }

  // Body bytes: only a line starting with "--" can end them.
  void body_run() {
    if (levels_.empty()) {
      finish(window_.size());
      return;
    }
    for (;;) {
      // Whatever the window holds from here on; a new block only when it
      // runs out, so that nothing is moved twice.
      const std::string_view view = window_.from(pos_, 2);
      if (view.size() < 2) {
        finish(window_.size());
        return;
      }
      std::size_t from = 0;
      for (;;) {
        // memchr runs at memory speed where a two-byte memmem does not, and
        // a body rarely holds a "-" (base64 never does).
        const void* hit =
            ::memchr(view.data() + from, '-', view.size() - 1 - from);
        if (hit == nullptr) break;
        const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) -
                                                 view.data());
        if (view[at + 1] != '-') {
          from = at + 1;
          if (from >= view.size() - 1) break;
          continue;
        }
        const std::uint64_t candidate = pos_ + at;
        if (candidate == body_begin_ ||
            (candidate > 0 && is_line_end(byte_at(candidate - 1)))) {
          Delimiter delimiter;
          if (delimiter_at(candidate, delimiter)) {
            take(delimiter);
            return;
          }
          // The window may have moved: look again from the next byte.
          pos_ = candidate + 1;
          return;
        }
        from = at + 1;
      }
      pos_ += view.size() - 1;
    }
  }

  // Where a line starting at `start` is a delimiter of an open multipart
  // (the outermost one when several match), fills `delimiter`.
  bool delimiter_at(std::uint64_t start, Delimiter& delimiter) {
    std::string_view view = window_.from(start, 2);
    if (view.size() < 2 || view[0] != '-' || view[1] != '-') return false;
    const std::size_t probe = longest_ + 4;  // "--", boundary, "--"
    view = window_.from(start, probe + 1);
    std::size_t end = 2;
    const std::size_t usable = std::min(view.size(), probe);
    while (end < usable && !is_line_end(view[end])) ++end;
    std::size_t content = end;
    while (content > 2 && is_blank(view[content - 1])) --content;
    const std::string_view rest = view.substr(2, content - 2);
    if (rest.size() > longest_ + 2) return false;
    const std::size_t open_hash = std::hash<std::string_view>{}(rest);
    const std::string_view shorter =
        rest.ends_with("--") ? rest.substr(0, rest.size() - 2) : rest;
    const std::size_t close_hash = std::hash<std::string_view>{}(shorter);
    const bool after_line_end = start > 0 && is_line_end(byte_at(start - 1));
    bool found = false;
    for (std::size_t i = 0; i < levels_.size() && !found; ++i) {
      const Level& level = levels_[i];
      if (!after_line_end && start != level.body_begin) continue;
      if (level.hash == open_hash && level.boundary == rest) {
        delimiter.close = false;
      } else if (shorter.size() < rest.size() && level.hash == close_hash &&
                 level.boundary == shorter) {
        delimiter.close = true;
      } else {
        continue;
      }
      found = true;
      delimiter.level = i;
      delimiter.start = start;
      delimiter.begin = start;
      if (start > level.body_begin) {
        delimiter.begin = start - 1;
        if (start - 2 >= level.body_begin && byte_at(start - 2) == '\r' &&
            byte_at(start - 1) == '\n')
          delimiter.begin = start - 2;
      }
    }
    if (!found) return false;
    if (end < usable) {
      if (end + 1 >= view.size() && start + end + 1 < window_.size())
        view = window_.from(start, end + 2);
      delimiter.after = start + end + line_end_length(view.substr(end));
      return true;
    }
    if (view.size() <= probe) {  // the archive ends on this line
      delimiter.after = start + view.size();
      return true;
    }
    // Only blanks so far, and the line goes on: save what lies before it,
    // then read on to its end.
    const std::uint64_t keep = std::min<std::uint64_t>(start, LOOK_BEHIND);
    behind_begin_ = start - keep;
    behind_.resize(static_cast<std::size_t>(keep));
    for (std::size_t i = 0; i < behind_.size(); ++i)
      behind_[i] = window_.byte(behind_begin_ + i);
    std::uint64_t pos = start + probe;
    for (;;) {
      view = window_.from(pos, SCAN_BLOCK);
      std::size_t i = 0;
      while (i < view.size() && is_blank(view[i])) ++i;
      if (i == view.size()) {
        if (view.empty()) {
          delimiter.after = pos;
          return true;
        }
        pos += view.size();
        continue;
      }
      if (!is_line_end(view[i])) return false;
      pos += i;
      if (i + 1 >= view.size())
        view = window_.from(pos, 2);
      else
        view.remove_prefix(i);
      delimiter.after = pos + line_end_length(view);
      return true;
    }
  }

  void take(const Delimiter& delimiter) {
    const std::size_t index = delimiter.level;
    Level& level = levels_[index];
    if (level.in_part && delimiter.start == level.part_begin) {
      // Delimiter lines right after an opening one open nothing more (a
      // close delimiter among them included).
      level.part_begin = delimiter.after;
      start_entity(delimiter.after, level.depth + 1, level.base);
      return;
    }
    if (level.in_part) {
      close_within(index + 1, std::max(level.part_begin, delimiter.begin));
    } else if (delimiter.close) {
      // A close delimiter before any part: the body up to it is all.
      add_leaf(level.as_leaf, level.body_begin, delimiter.start);
    }
    Level& still = levels_[index];
    if (delimiter.close) {
      levels_.resize(index);
      refresh_longest();
      enter_body(State::ignore, delimiter.after);
      return;
    }
    still.in_part = true;
    still.part_begin = delimiter.after;
    start_entity(delimiter.after, still.depth + 1, still.base);
  }

  // The line end just before `end`, within [begin, end).
  [[nodiscard]] std::size_t line_end_before(std::uint64_t begin,
                                            std::uint64_t end) const {
    if (end <= begin) return 0;
    const char last = byte_at(end - 1);
    if (last == '\n' && end - 1 > begin && byte_at(end - 2) == '\r') return 2;
    return is_line_end(last) ? 1 : 0;
  }

  // Everything inside the multiparts from `first` on (and the entity they
  // are in) ends at `end`: each one's last part ends one line end earlier.
  void close_within(std::size_t first, std::uint64_t end) {
    for (std::size_t j = first; j < levels_.size(); ++j) {
      Level& level = levels_[j];
      if (!level.in_part) {
        add_leaf(level.as_leaf, level.body_begin, end);
        state_ = State::ignore;
        break;
      }
      level.part_begin = std::min(level.part_begin, end);
      end -= line_end_before(level.part_begin, end);
    }
    if (state_ == State::headers) {
      entity_begin_ = std::min(entity_begin_, end);
      dispatch(end, true, end);
    } else if (state_ == State::leaf) {
      end_leaf(end);
    }
    levels_.resize(std::min(first, levels_.size()));
    refresh_longest();
  }

  void finish(std::uint64_t size) {
    close_within(0, size);
    state_ = State::done;
  }
};

}  // namespace

MimeArchive parse_mime_archive(int file) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { g_mime_init(); });

  MimeArchive archive;
  struct stat status {};
  if (::fstat(file, &status) != 0) return archive;
  Window window(file, static_cast<std::uint64_t>(status.st_size));
  Scanner scanner(window, archive);
  if (!scanner.run()) archive = MimeArchive{};
  return archive;
}

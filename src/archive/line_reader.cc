#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive_reader.h"
#include "file_open.h"
#include "messages.h"
#include "progress.h"

namespace {

// Standard input may come non-blocking from whoever passed it on: a read
// that would block waits for bytes instead of failing.
bool wait_readable(int fd) {
  pollfd wanted{fd, POLLIN, 0};
  while (::poll(&wanted, 1, -1) < 0)
    if (errno != EINTR) return false;
  return true;
}

// Moves the unread bytes to the front of the block and reads more after
// them, growing the block when a single line fills it.
void refill(ArchiveReader& reader) {
  Text& block = reader.block;
  if (reader.begin > 0) {
    const std::size_t kept = block.size() - reader.begin;
    std::memmove(block.data(), block.data() + reader.begin, kept);
    block.shrink_to(kept);
    reader.begin = 0;
  }
  if (block.capacity() - block.size() < READ_BLOCK / 2)
    block.reserve_more(block.capacity() > READ_BLOCK ? block.capacity()
                                                     : READ_BLOCK);
  for (;;) {
    const ssize_t got = ::read(reader.file, block.data() + block.size(),
                               block.capacity() - block.size());
    if (got > 0) {
      block.grow_size(static_cast<std::size_t>(got));
      reader.read_offset += static_cast<std::uint64_t>(got);
      progress_read(static_cast<std::uint64_t>(got));
      return;
    }
    if (got == 0) {
      reader.at_eof = true;
      return;
    }
    if (errno == EAGAIN && wait_readable(reader.file)) continue;
    if (errno != EINTR) fail_cannot_open(reader.path);
  }
}

std::size_t offset_after(const char* base, const void* hit) {
  return static_cast<std::size_t>(static_cast<const char*>(hit) - base) + 1;
}

[[noreturn]] void fail_long_header_line(const ArchiveReader& reader) {
  fail_header_line_too_long(reader.path, HEADER_LINE_LIMIT);
}

// What passing over a long line found in it.
struct LongLine {
  bool holds_boundary = false;
  bool closes = false;  // the boundary is directly followed by "--"
};

// Notes each boundary in `bytes`, a stretch of one line. A boundary whose
// "--" may still come is found again in the bytes kept for the next stretch.
void note_boundaries(const ArchiveReader& reader, std::string_view bytes,
                     LongLine& line) {
  const std::size_t length = reader.matcher.size();
  for (std::size_t from = 0; from < bytes.size();) {
    const std::size_t hit = reader.matcher.find(bytes.substr(from));
    if (hit == BoundaryMatcher::npos) return;
    line.holds_boundary = true;
    if (bytes.substr(from + hit + length, 2) == "--") line.closes = true;
    from += hit + 1;
  }
}

// Puts `count` bytes of a long line at `offset` in the spill file.
void spill_bytes(const ArchiveReader& reader, const char* bytes,
                 std::size_t count, std::uint64_t offset) {
  while (count > 0) {
    const ssize_t done =
        ::pwrite(reader.spill, bytes, count, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) fail_long_line_spill(reader.path);
    bytes += done;
    count -= static_cast<std::size_t>(done);
    offset += static_cast<std::uint64_t>(done);
  }
}

// Reads past the line that starts at `begin` (no LF among the bytes in the
// block), keeping only the last bytes a boundary and its "--" may straddle.
// With `spilled`, the line's bytes go to the spill file, counted there,
// while the line may still be body.
LongLine pass_long_line(ArchiveReader& reader,
                        std::uint64_t* spilled = nullptr) {
  const std::size_t keep = reader.matcher.size() + 1;
  LongLine line;
  for (;;) {
    const char* window = reader.block.data() + reader.begin;
    const std::size_t available = reader.block.size() - reader.begin;
    const void* lf = std::memchr(window, '\n', available);
    const std::size_t length = lf ? offset_after(window, lf) : available;
    note_boundaries(reader, {window, length}, line);
    const bool ends = lf != nullptr || reader.at_eof;
    const std::size_t passed = ends               ? length
                               : available > keep ? available - keep
                                                  : 0;
    if (spilled != nullptr && !line.holds_boundary) {
      spill_bytes(reader, window, passed, *spilled);
      *spilled += passed;
    }
    reader.begin += passed;
    if (ends) return line;
    refill(reader);
  }
}

// A stream's long line is spilled where the reader was given a directory
// and a file could be made there.
bool can_spill(ArchiveReader& reader) {
  if (reader.spill < 0 && reader.spill_dir >= 0)
    reader.spill = open_unnamed_file(reader.spill_dir);
  return reader.spill >= 0;
}

// The next block of the long line being read again.
std::string_view reread_next(ArchiveReader& reader) {
  if (reader.reread.capacity() < READ_BLOCK)
    reader.reread.reserve_more(READ_BLOCK);
  const std::uint64_t left = reader.reread_to - reader.reread_from;
  const std::size_t want = left < reader.reread.capacity()
                               ? static_cast<std::size_t>(left)
                               : reader.reread.capacity();
  for (;;) {
    const int from = reader.seekable ? reader.file : reader.spill;
    const ssize_t got = ::pread(from, reader.reread.data(), want,
                                static_cast<off_t>(reader.reread_from));
    if (got > 0) {
      reader.reread_from += static_cast<std::uint64_t>(got);
      return {reader.reread.data(), static_cast<std::size_t>(got)};
    }
    // A file that shrank under us fails as a failed read does.
    if (got == 0 || errno != EINTR) fail_cannot_open(reader.path);
  }
}

}  // namespace

std::optional<std::string_view> read_line(ArchiveReader& reader) {
  std::size_t scanned = 0;  // bytes after `begin` known to hold no LF
  for (;;) {
    const char* window = reader.block.data() + reader.begin;
    const std::size_t available = reader.block.size() - reader.begin;
    if (scanned < available) {
      const void* lf = std::memchr(window + scanned, '\n', available - scanned);
      if (lf != nullptr) {
        const std::size_t length = offset_after(window, lf);
        if (length > HEADER_LINE_LIMIT) fail_long_header_line(reader);
        reader.begin += length;
        return std::string_view(window, length);
      }
      scanned = available;
      if (scanned > HEADER_LINE_LIMIT) fail_long_header_line(reader);
    }
    if (reader.at_eof) {
      if (available == 0) return std::nullopt;
      reader.begin += available;  // a last line without LF, whole
      return std::string_view(window, available);
    }
    refill(reader);
  }
}

bool at_end(ArchiveReader& reader) {
  while (reader.begin == reader.block.size()) {
    if (reader.at_eof) return true;
    refill(reader);
  }
  return false;
}

bool is_close_delimiter(const ArchiveReader& reader, std::string_view line) {
  const std::size_t length = reader.matcher.size();
  std::size_t from = 0;
  for (;;) {
    const std::size_t hit = reader.matcher.find(line.substr(from));
    if (hit == BoundaryMatcher::npos) return false;
    const std::size_t after = from + hit + length;
    if (line.substr(after, 2) == "--") return true;
    from += hit + 1;
  }
}

BodyChunk read_body_chunk(ArchiveReader& reader) {
  if (reader.reread_from < reader.reread_to) return {reread_next(reader)};
  const std::size_t length = reader.matcher.size();
  std::size_t searched = 0;  // bytes after `begin` where no match can start
  std::size_t no_lf = 0;     // bytes after `begin` known to hold no LF
  for (;;) {
    const char* window = reader.block.data() + reader.begin;
    const std::string_view bytes(window, reader.block.size() - reader.begin);
    std::size_t hit = reader.matcher.find(bytes.substr(searched));
    if (hit != BoundaryMatcher::npos) {
      hit += searched;
      const void* lf = hit > 0 ? memrchr(window, '\n', hit) : nullptr;
      if (lf != nullptr) {
        // Whole lines come before the boundary line: hand them out first.
        const std::size_t lines = offset_after(window, lf);
        reader.begin += lines;
        return {bytes.substr(0, lines), false};
      }
      const std::size_t rest = hit + length;
      const void* line_end =
          std::memchr(window + rest, '\n', bytes.size() - rest);
      if (line_end != nullptr || reader.at_eof) {
        const std::size_t stop =
            line_end ? offset_after(window, line_end) : bytes.size();
        reader.closed = is_close_delimiter(reader, bytes.substr(0, stop));
        reader.begin += stop;
        return {{}, true};
      }
      if (bytes.size() >= READ_BLOCK / 2) {
        // A boundary line longer than the block: nothing of it is kept.
        reader.closed = pass_long_line(reader).closes;
        return {{}, true};
      }
      searched = hit;
    } else {
      if (reader.at_eof) {
        reader.begin += bytes.size();
        return {bytes, false};
      }
      // Only the bytes read since the last look: a line that grows block
      // by block through a pipe is not scanned again from its start.
      const void* lf = memrchr(window + no_lf, '\n', bytes.size() - no_lf);
      if (lf != nullptr) {
        const std::size_t lines = offset_after(window, lf);
        reader.begin += lines;
        return {bytes.substr(0, lines), false};
      }
      no_lf = bytes.size();
      if (reader.seekable && bytes.size() >= READ_BLOCK / 2) {
        // A line that fills half the block: whether it is body or the
        // boundary line shows only by its end, so it is passed over first
        // and, when body, read again from the file in blocks.
        const std::uint64_t start = reader.read_offset - bytes.size();
        const LongLine line = pass_long_line(reader);
        if (line.holds_boundary) {
          reader.closed = line.closes;
          return {{}, true};
        }
        reader.reread_from = start;
        reader.reread_to =
            reader.read_offset - (reader.block.size() - reader.begin);
        return {reread_next(reader)};
      }
      if (bytes.size() >= READ_BLOCK / 2 && can_spill(reader)) {
        // The same for a stream, read again from where it was spilled.
        std::uint64_t spilled = 0;
        const LongLine line = pass_long_line(reader, &spilled);
        if (line.holds_boundary) {
          reader.closed = line.closes;
          return {{}, true};
        }
        reader.reread_from = 0;
        reader.reread_to = spilled;
        return {reread_next(reader)};
      }
      // One line longer than the block (a stream that can't be spilled):
      // keep searching where we left off.
      searched = bytes.size() >= length ? bytes.size() - length + 1 : 0;
    }
    refill(reader);
  }
}

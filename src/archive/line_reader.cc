#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive_reader.h"
#include "messages.h"

namespace {

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
      return;
    }
    if (got == 0) {
      reader.at_eof = true;
      return;
    }
    if (errno != EINTR) fail_cannot_open(reader.path);
  }
}

std::size_t offset_after(const char* base, const void* hit) {
  return static_cast<std::size_t>(static_cast<const char*>(hit) - base) + 1;
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
        reader.begin += length;
        return std::string_view(window, length);
      }
      scanned = available;
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
  const std::size_t length = reader.matcher.size();
  std::size_t searched = 0;  // bytes after `begin` where no match can start
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
      searched = hit;
    } else {
      if (reader.at_eof) {
        reader.begin += bytes.size();
        return {bytes, false};
      }
      const void* lf = memrchr(window, '\n', bytes.size());
      if (lf != nullptr) {
        const std::size_t lines = offset_after(window, lf);
        reader.begin += lines;
        return {bytes.substr(0, lines), false};
      }
      // One line longer than the block: keep searching where we left off.
      searched = bytes.size() >= length ? bytes.size() - length + 1 : 0;
    }
    refill(reader);
  }
}

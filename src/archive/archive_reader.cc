#include "archive_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "file_open.h"
#include "messages.h"
#include "progress.h"

ArchiveReader::ArchiveReader(ArchiveReader&& other) noexcept
    : boundary(std::move(other.boundary)),
      file(std::exchange(other.file, -1)),
      part_name(std::move(other.part_name)),
      part_dir(std::move(other.part_dir)),
      path(std::move(other.path)),
      matcher(std::move(other.matcher)),
      block(std::move(other.block)),
      begin(std::exchange(other.begin, 0)),
      at_eof(other.at_eof),
      closed(other.closed),
      in_body(other.in_body),
      hinted(other.hinted),
      seekable(other.seekable),
      read_offset(other.read_offset),
      reread_from(other.reread_from),
      reread_to(other.reread_to),
      reread(std::move(other.reread)),
      spill_dir(other.spill_dir),
      spill(std::exchange(other.spill, -1)) {}

ArchiveReader::~ArchiveReader() {
  if (file >= 0) ::close(file);
  if (spill >= 0) ::close(spill);
}

namespace {

int open_for_reading(const std::string& path) {
  // Non-blocking, so that a FIFO without a writer does not hang the open;
  // reading then blocks again as usual.
  const int fd = open_retrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

[[noreturn]] void fail_header_of(ArchiveReader& reader) {
  hint_other_layout(reader);
  fail_header();
}

// The boundary parameter of a Content-Type line: quoted and read as written,
// or a bare token that ends at ";", a blank, a tab or the line end.
std::string_view boundary_of(ArchiveReader& reader, std::string_view line) {
  const std::size_t keyword = line.find("boundary=");
  if (keyword == std::string_view::npos) fail_header_of(reader);
  std::string_view value = line.substr(keyword + 9);
  std::string_view boundary;
  if (!value.empty() && value.front() == '"') {
    const std::size_t quote = value.find('"', 1);
    if (quote == std::string_view::npos) fail_header_of(reader);
    boundary = value.substr(1, quote - 1);
  } else {
    boundary = value.substr(0, value.find_first_of("; \t\r\n"));
  }
  if (boundary.empty()) fail_header_of(reader);
  return boundary;
}

}  // namespace

void hint_other_layout(ArchiveReader& reader) {
  if (reader.hinted) return;
  reader.hinted = true;
  hint_any_layout(reader.path);
}

ArchiveReader open_archive(std::string_view path) {
  return read_archive_header(open_for_reading(std::string(path)), path);
}

ArchiveReader read_archive_header(int file, std::string_view path) {
  ArchiveReader reader;
  reader.path = std::string(path);
  reader.file = file;
  if (reader.file < 0) fail_cannot_open(path);
  struct stat info {};
  reader.seekable = ::fstat(reader.file, &info) == 0 && S_ISREG(info.st_mode);
  if (reader.seekable) {
    // A file handed over part read (a shell's standard input) is read from
    // where it stands; a long line is read again by its offset in the file.
    const off_t here = ::lseek(reader.file, 0, SEEK_CUR);
    if (here > 0) reader.read_offset = static_cast<std::uint64_t>(here);
    // A pipe or a FIFO has no size to show progress against.
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size >= reader.read_offset) progress_expect(size - reader.read_offset);
  }
  reader.block.reserve_more(READ_BLOCK);

  for (;;) {
    const std::optional<std::string_view> line = read_line(reader);
    if (!line) fail_header_of(reader);
    if (line->find("Content-Type") != std::string_view::npos) {
      reader.boundary = std::string(boundary_of(reader, *line));
      break;
    }
  }
  reader.matcher = BoundaryMatcher(reader.boundary);
  return reader;
}

bool skip_to_first_boundary(ArchiveReader& reader) {
  for (;;) {
    const std::optional<std::string_view> line = read_line(reader);
    if (!line) return false;
    if (reader.matcher.find(*line) != BoundaryMatcher::npos) {
      reader.closed = is_close_delimiter(reader, *line);
      return true;
    }
  }
}

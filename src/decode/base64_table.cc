#include "base64_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "messages.h"

Base64table base64table;

namespace {

std::string table_file = "base64.conf";

// The configuration file is read as a line read of this many bytes would
// read it: a longer line counts as several.
constexpr std::size_t CONF_LINE_MAX = 255;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void parse_line(std::string_view line, Base64table& table) {
  if (line.empty() || !is_digit(line[0])) return;
  std::uint32_t value = 0;  // wraps modulo 2^32, as the format always has
  std::size_t position = 0;
  while (position < line.size() && is_digit(line[position])) {
    value = value * 10 + static_cast<std::uint32_t>(line[position] - '0');
    ++position;
  }
  if (value == 0) return;
  ++position;  // the separator, whatever it is
  if (position > line.size())
    fail_table_format(table_file, line, position, line.size());
  // Right after the separator may stand the line's end: entry 0 is then set.
  const char character = position < line.size() ? line[position] : '\0';
  say_table_entry(character, static_cast<std::int32_t>(value));
  table.entries[static_cast<unsigned char>(character)] =
      static_cast<std::uint8_t>(value);
}

// Opened without waiting for a writer, as an archive is: a FIFO by that
// name gives what it holds, and nothing when no one writes to it.
std::FILE* open_conf() {
  int fd;
  do {
    fd = ::open(table_file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace

void set_table_file(std::string_view path) { table_file = path; }

void parse_base64conf(std::string_view content, Base64table& table) {
  std::size_t at = 0;
  while (at < content.size()) {
    std::size_t limit = content.size() - at;
    if (limit > CONF_LINE_MAX) limit = CONF_LINE_MAX;
    std::string_view chunk = content.substr(at, limit);
    const std::size_t lf = chunk.find('\n');
    if (lf != std::string_view::npos) chunk = chunk.substr(0, lf + 1);
    at += chunk.size();
    // A NUL byte ends the line's text, as it would a C string.
    parse_line(chunk.substr(0, chunk.find('\0')), table);
  }
}

namespace {

// The whole file, or none when it can't be opened or read. Memory for its
// bytes running out ends the run with the loader's own message.
std::optional<std::string> read_base64conf() {
  const NoMemoryScope scope(NoMemoryMessage::table);
  std::string content;
  content.reserve(4096);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(open_conf(),
                                                       &std::fclose);
  if (!file) return std::nullopt;
  char buffer[4096];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
    if (got > 0) content.append(buffer, got);
    if (got < sizeof buffer) break;
  }
  // A directory by that name opens but can't be read: it is no table.
  if (std::ferror(file.get())) return std::nullopt;
  return content;
}

}  // namespace

void load_base64table() {
  const std::optional<std::string> content = read_base64conf();
  if (!content) fail_table_missing(table_file);
  parse_base64conf(*content, base64table);
  base64table.table_loaded = true;
  say_table_loaded();
}

Base64table base64table_of(std::string_view alphabet) {
  Base64table table;
  for (std::size_t i = 0; i < alphabet.size(); ++i)
    table.entries[static_cast<unsigned char>(alphabet[i])] =
        static_cast<std::uint8_t>(i);
  table.table_loaded = true;
  return table;
}

bool is_rfc2045_table(const Base64table& table) {
  static const Base64table rfc2045 = base64table_of(RFC2045_ALPHABET);
  return table.entries == rfc2045.entries;
}

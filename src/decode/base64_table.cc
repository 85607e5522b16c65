#include "base64_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "file_open.h"
#include "messages.h"

Base64table base64table;

namespace {

std::string table_file = "base64.conf";

// The configuration file is read as a line read of this many bytes would
// read it: a longer line counts as several.
constexpr std::size_t CONF_LINE_MAX = 255;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Where a line of base64.conf is malformed: it ends right after its digits.
struct ConfFault {
  std::string_view line;
  std::size_t position;
};

// Sets the entry a line gives, echoing it when `echo` is set; a malformed
// line is returned instead.
std::optional<ConfFault> parse_line(std::string_view line, Base64table& table,
                                    bool echo) {
  if (line.empty() || !is_digit(line[0])) return std::nullopt;
  std::uint32_t value = 0;  // wraps modulo 2^32, as the format always has
  std::size_t position = 0;
  while (position < line.size() && is_digit(line[position])) {
    value = value * 10 + static_cast<std::uint32_t>(line[position] - '0');
    ++position;
  }
  if (value == 0) return std::nullopt;
  ++position;  // the separator, whatever it is
  if (position > line.size()) return ConfFault{line, position};
  // Right after the separator may stand the line's end: entry 0 is then set.
  const char character = position < line.size() ? line[position] : '\0';
  if (echo) say_table_entry(character, static_cast<std::int32_t>(value));
  table.entries[static_cast<unsigned char>(character)] =
      static_cast<std::uint8_t>(value);
  return std::nullopt;
}

std::optional<ConfFault> parse_conf(std::string_view content,
                                    Base64table& table, bool echo) {
  std::size_t at = 0;
  while (at < content.size()) {
    std::size_t limit = content.size() - at;
    if (limit > CONF_LINE_MAX) limit = CONF_LINE_MAX;
    std::string_view chunk = content.substr(at, limit);
    const std::size_t lf = chunk.find('\n');
    if (lf != std::string_view::npos) chunk = chunk.substr(0, lf + 1);
    at += chunk.size();
    // A NUL byte ends the line's text, as it would a C string.
    if (const std::optional<ConfFault> fault =
            parse_line(chunk.substr(0, chunk.find('\0')), table, echo))
      return fault;
  }
  return std::nullopt;
}

// Opened without waiting for a writer, as an archive is: a FIFO by that
// name gives what it holds, and nothing when no one writes to it.
std::FILE* open_conf() {
  const int fd =
      open_retrying(table_file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
  if (const std::optional<ConfFault> fault = parse_conf(content, table, true))
    fail_table_format(table_file, fault->line, fault->position,
                      fault->line.size());
}

namespace {

// What reading base64.conf gave, kept until it is said.
enum class Preload { none, read, missing, no_memory };
Preload preload = Preload::none;
std::unique_ptr<char, void (*)(void*)> conf_bytes(nullptr, &std::free);
std::size_t conf_size = 0;
bool conf_usable = false;  // read and well formed

// Reads the whole file into conf_bytes: `missing` when it can't be opened
// or read, `no_memory` when its bytes don't fit (that failure waits too).
Preload read_base64conf() {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(open_conf(),
                                                       &std::fclose);
  if (!file) return Preload::missing;
  std::size_t capacity = 0;
  conf_size = 0;
  for (;;) {
    if (capacity - conf_size < 4096) {
      capacity = capacity == 0 ? 4096 : capacity * 2;
      void* grown = std::realloc(conf_bytes.get(), capacity);
      if (grown == nullptr) {
        conf_bytes.reset();
        return Preload::no_memory;
      }
      (void)conf_bytes.release();
      conf_bytes.reset(static_cast<char*>(grown));
    }
    const std::size_t got =
        std::fread(conf_bytes.get() + conf_size, 1, 4096, file.get());
    conf_size += got;
    if (got < 4096) break;
  }
  // A directory by that name opens but can't be read: it is no table.
  if (std::ferror(file.get())) return Preload::missing;
  return Preload::read;
}

}  // namespace

bool preload_base64table() {
  if (preload == Preload::none) {
    preload = read_base64conf();
    conf_usable =
        preload == Preload::read &&
        !parse_conf({conf_bytes.get(), conf_size}, base64table, false);
  }
  return conf_usable;
}

void announce_base64table() {
  const Preload outcome = preload;
  preload = Preload::none;
  if (outcome == Preload::none) return;
  const std::unique_ptr<char, void (*)(void*)> bytes = std::move(conf_bytes);
  conf_bytes.reset();
  switch (outcome) {
    case Preload::missing:
      fail_table_missing(table_file);
    case Preload::no_memory: {
      const NoMemoryScope scope(NoMemoryMessage::table);
      fail_no_memory();
    }
    case Preload::none:
    case Preload::read:
      break;
  }
  // The same bytes again, said this time: the echo, or the fault.
  parse_base64conf({bytes.get(), conf_size}, base64table);
  base64table.table_loaded = true;
  say_table_loaded();
}

void load_base64table() {
  preload_base64table();
  announce_base64table();
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

#include "base64_table.h"

#include <optional>

#include "messages.h"

namespace {

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

}  // namespace

void parse_base64conf(std::string_view content, Base64table& table,
                      std::string_view file) {
  if (const std::optional<ConfFault> fault = parse_conf(content, table, true))
    fail_table_format(file, fault->line, fault->position, fault->line.size());
}

bool parse_base64conf_quietly(std::string_view content, Base64table& table) {
  return !parse_conf(content, table, false).has_value();
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

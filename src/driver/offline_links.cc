#include "offline_links.h"

#include <algorithm>
#include <array>

#include "offline_path.h"

namespace {

constexpr std::size_t NONE = static_cast<std::size_t>(-1);

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

char lower_byte(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void append_escape(std::string& out, unsigned char byte) {
  static constexpr std::array<char, 16> digits = {'0', '1', '2', '3', '4', '5',
                                                  '6', '7', '8', '9', 'A', 'B',
                                                  'C', 'D', 'E', 'F'};
  out.push_back('%');
  out.push_back(digits[byte >> 4]);
  out.push_back(digits[byte & 15]);
}

// Reserved characters keep their meaning (RFC 3986 section 2.2), so they are
// written as they stand, like the unreserved ones.
bool is_literal(unsigned char byte) {
  if (is_unreserved(byte)) return true;
  switch (byte) {
    case ':':
    case '/':
    case '?':
    case '#':
    case '[':
    case ']':
    case '@':
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
      return true;
    default:
      return false;
  }
}

// One spelling for a path or query: "a%20b", "a b" and "a%2fb" against
// "a%2Fb" agree; "%41" is "A".
std::string normal_component(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '%' && i + 2 < text.size()) {
      const int high = hex_value(text[i + 1]);
      const int low = hex_value(text[i + 2]);
      if (high >= 0 && low >= 0) {
        const auto decoded = static_cast<unsigned char>(high << 4 | low);
        if (is_unreserved(decoded))
          out.push_back(static_cast<char>(decoded));
        else
          append_escape(out, decoded);
        i += 2;
        continue;
      }
    }
    if (is_literal(byte))
      out.push_back(static_cast<char>(byte));
    else
      append_escape(out, byte);
  }
  return out;
}

std::string normal_authority(std::string_view scheme,
                             std::string_view authority) {
  std::string out;
  out.reserve(authority.size());
  // The user part keeps its case; the host has none.
  const std::size_t at = authority.rfind('@');
  const std::size_t host = at == std::string_view::npos ? 0 : at + 1;
  out.append(authority.substr(0, host));
  for (const char c : authority.substr(host)) out.push_back(lower_byte(c));
  const std::size_t colon = out.rfind(':');
  if (colon != std::string::npos && colon >= host &&
      out.find(']', colon) == std::string::npos) {
    const std::string_view port = std::string_view(out).substr(colon + 1);
    if (port.empty() || (scheme == "http" && port == "80") ||
        (scheme == "https" && port == "443") ||
        (scheme == "ftp" && port == "21"))
      out.resize(colon);
  }
  return out;
}

// Schemes whose URLs a browser reads with "\" as "/".
bool is_special(std::string_view scheme) {
  return scheme == "http" || scheme == "https" || scheme == "file" ||
         scheme == "ftp";
}

// A URL as a browser takes it from an attribute: tabs and line ends inside
// it dropped; in special schemes, "\" read as "/".
UrlReference parse_reference(std::string_view text,
                             std::string_view base_scheme) {
  std::string cleaned;
  cleaned.reserve(text.size());
  for (const char c : text)
    if (c != '\t' && c != '\n' && c != '\r') cleaned.push_back(c);
  UrlReference url = parse_url(cleaned);
  if (cleaned.find('\\') != std::string::npos &&
      is_special(url.is_absolute() ? std::string_view(url.scheme)
                                   : base_scheme)) {
    for (char& c : cleaned)
      if (c == '\\') c = '/';
    url = parse_url(cleaned);
  }
  return url;
}

// A Windows path ("C:\dir\page.htm", "C:/dir/page.htm") as the file URL it
// stands for; any other text as it is.
std::string location_as_url(std::string_view location) {
  if (location.size() >= 3 && is_letter(location[0]) && location[1] == ':' &&
      (location[2] == '\\' || location[2] == '/')) {
    std::string url = "file:///";
    url.append(location);
    return url;
  }
  return std::string(location);
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The part's location made absolute against the enclosing one.
UrlReference absolute_location(const MimeLeaf& leaf) {
  const std::string location = location_as_url(trimmed(leaf.location));
  const std::string enclosing = location_as_url(trimmed(leaf.base_location));
  const UrlReference base = parse_reference(enclosing, {});
  UrlReference url = parse_reference(location, base.scheme);
  if (!url.is_absolute() && base.is_absolute()) url = resolve_url(base, url);
  return url;
}

std::size_t find_main_page(const MimeArchive& archive) {
  std::string_view start = trimmed(archive.start);
  if (start.starts_with('<') && start.ends_with('>') && start.size() >= 2)
    start = trimmed(start.substr(1, start.size() - 2));
  if (!start.empty()) {
    for (std::size_t i = 0; i < archive.leaves.size(); ++i)
      if (trimmed(archive.leaves[i].content_id) == start) return i;
  }
  for (std::size_t i = 0; i < archive.leaves.size(); ++i)
    if (archive.leaves[i].content_type == "text/html") return i;
  return NONE;
}

}  // namespace

std::string url_key(const UrlReference& url) {
  std::string key = url.scheme;
  if (url.scheme == "cid") {
    std::string id = url.path;
    if (url.has_query) id.append("?").append(url.query);
    return key.append(":").append(percent_decode(id));
  }
  if (!key.empty()) key.push_back(':');
  std::string raw = url.path;
  // A drive letter has no case, and "|" is its old spelling: file:///C|/a
  // is file:///c:/a.
  if (url.scheme == "file" && raw.size() >= 3 && raw[0] == '/' &&
      is_letter(raw[1]) && (raw[2] == ':' || raw[2] == '|') &&
      (raw.size() == 3 || raw[3] == '/')) {
    raw[1] = lower_byte(raw[1]);
    raw[2] = ':';
  }
  std::string path = remove_dot_segments(normal_component(raw));
  if (url.has_authority) {
    key.append("//").append(normal_authority(url.scheme, url.authority));
    if (path.empty() && is_special(url.scheme)) path.push_back('/');
  }
  key.append(path);
  if (url.has_query) key.append("?").append(normal_component(url.query));
  return key;
}

OfflineLinks::OfflineLinks(const MimeArchive& archive,
                           const std::vector<std::string>& names)
    : names_(names), main_page_(find_main_page(archive)) {
  locations_.reserve(archive.leaves.size());
  for (std::size_t i = 0; i < archive.leaves.size(); ++i) {
    const MimeLeaf& leaf = archive.leaves[i];
    locations_.push_back(absolute_location(leaf));
    // The first part of a location or an ID is the one a browser shows.
    if (!trimmed(leaf.location).empty())
      parts_.try_emplace(url_key(locations_.back()), i);
    const std::string_view id = trimmed(leaf.content_id);
    if (!id.empty()) parts_.try_emplace("cid:" + std::string(id), i);
  }
}

std::optional<std::string> OfflineLinks::resolve(std::size_t from,
                                                 std::string_view reference,
                                                 std::string_view base) {
  // Inline data is never a part, and may be megabytes long.
  if (reference.size() > 5 &&
      std::equal(reference.begin(), reference.begin() + 5,
                 "data:", [](char a, char b) { return lower_byte(a) == b; }))
    return std::nullopt;
  if (from != cached_from_ || base != cached_base_) {
    cached_from_ = from;
    cached_base_ = base;
    cache_.clear();
    base_url_ = locations_[from];
    if (!base.empty()) {
      const UrlReference href = parse_reference(base, base_url_.scheme);
      base_url_ = resolve_url(base_url_, href);
    }
  }
  const auto cached = cache_.find(std::string(reference));
  if (cached != cache_.end()) return cached->second;
  std::optional<std::string> path = lookup(from, reference);
  cache_.emplace(reference, path);
  return path;
}

std::optional<std::string> OfflineLinks::lookup(
    std::size_t from, std::string_view reference) const {
  const UrlReference url =
      resolve_url(base_url_, parse_reference(reference, base_url_.scheme));
  const auto found = parts_.find(url_key(url));
  if (found == parts_.end()) return std::nullopt;
  return encode_url_path(relative_path(names_[from], names_[found->second]));
}

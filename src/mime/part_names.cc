#include "part_names.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "url.h"

namespace {

std::string_view trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

char lower_byte(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ends_with_nocase(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  text.remove_prefix(text.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i)
    if (lower_byte(text[i]) != suffix[i]) return false;
  return true;
}

bool is_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A Windows drive at the start of `path`: "C:" or "C|", then "/" or the end.
bool starts_with_drive(std::string_view path) {
  return path.size() >= 2 && is_letter(path[0]) &&
         (path[1] == ':' || path[1] == '|') &&
         (path.size() == 2 || path[2] == '/');
}

// A slash inside a single name (a Content-ID, a query) stays an escape, so
// that it never makes a directory.
std::string escape_slashes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '/')
      out.append("%2F");
    else
      out.push_back(c);
  }
  return out;
}

bool is_control(unsigned char byte) { return byte < 0x20 || byte == 0x7f; }

// Decodes a name's escapes except those that would give "/" or a control
// byte (NUL included): those stay as written.
std::string decode_name(std::string_view text) {
  return percent_decode(
      text, [](unsigned char byte) { return byte == '/' || is_control(byte); });
}

// Dot segments resolved (escaped dots count as dots), empty segments
// dropped, each segment decoded; "a/b" form, no leading "/".
std::string normalised_path(std::string_view raw) {
  std::string rooted(1, '/');
  rooted.append(percent_decode_unreserved(raw));
  const std::string path = remove_dot_segments(
      std::string_view(rooted).substr(raw.starts_with('/')));
  std::string out;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    const std::string_view segment(path.data() + start, slash - start);
    if (!segment.empty()) {
      if (!out.empty()) out.push_back('/');
      out.append(decode_name(segment));
    }
    start = slash + 1;
  }
  return out;
}

std::string concat(std::initializer_list<std::string_view> pieces) {
  std::string out;
  for (const std::string_view piece : pieces) out.append(piece);
  return out;
}

// A URL path that ends in a directory ("", "/a/", "/a/.." and the like).
bool names_directory(std::string_view raw) {
  const std::string path = percent_decode_unreserved(raw);
  return path.empty() || path == "." || path == ".." || path.ends_with('/') ||
         path.ends_with("/.") || path.ends_with("/..");
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower_byte(c);
  return out;
}

// The host of an authority: no user information, no port.
std::string host_of(std::string_view authority) {
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);
  const std::size_t colon = authority.rfind(':');
  if (colon != std::string_view::npos &&
      authority.find(']', colon) == std::string_view::npos)
    authority = authority.substr(0, colon);
  return lower(decode_name(authority));
}

std::string joined(std::string_view host, std::string_view path) {
  if (host.empty()) return std::string(path);
  if (path.empty()) return std::string(host);
  std::string out(host);
  out.push_back('/');
  out.append(path);
  return out;
}

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325U;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3U;
  }
  return hash;
}

// "~" and eight hex digits of a hash of `text`.
std::string hash_tag(std::string_view text) {
  static constexpr std::array<char, 16> digits = {'0', '1', '2', '3', '4', '5',
                                                  '6', '7', '8', '9', 'a', 'b',
                                                  'c', 'd', 'e', 'f'};
  std::uint64_t hash = fnv1a(text);
  std::string tag(9, '~');
  for (std::size_t i = 8; i > 0; --i, hash >>= 4) tag[i] = digits[hash & 15];
  return tag;
}

// Where the extension of the last component starts (its "."), or npos; a
// leading dot is part of the name, not an extension.
std::size_t extension_start(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t name = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || dot <= name) return std::string::npos;
  return dot;
}

// The first `count` bytes of `text`, shortened so as not to split a UTF-8
// sequence.
std::string_view utf8_prefix(std::string_view text, std::size_t count) {
  if (count >= text.size()) return text;
  while (count > 0 && (static_cast<unsigned char>(text[count]) & 0xC0) == 0x80)
    --count;
  return text.substr(0, count);
}

std::string shortened_component(std::string_view component) {
  std::size_t dot = extension_start(component);
  if (dot != std::string::npos && component.size() - dot > 32)
    dot = std::string::npos;
  const std::string_view extension =
      dot == std::string::npos ? std::string_view{} : component.substr(dot);
  const std::string tag = hash_tag(component);
  std::string out(utf8_prefix(
      component, MAX_COMPONENT_BYTES - tag.size() - extension.size()));
  out.append(tag).append(extension);
  return out;
}

// `components` joined; when too long, the leading directories that fit are
// kept, then one directory named after a hash of the rest, then the name.
std::string joined_within_limit(const std::vector<std::string>& components) {
  std::string out;
  for (const std::string& component : components) {
    if (!out.empty()) out.push_back('/');
    out.append(component);
  }
  if (out.size() <= MAX_PATH_BYTES) return out;
  const std::string& name = components.back();
  const std::string tag = hash_tag(out);
  const std::size_t budget = MAX_PATH_BYTES - name.size() - tag.size() - 2;
  std::string kept;
  for (std::size_t i = 0; i + 1 < components.size(); ++i) {
    if (kept.size() + components[i].size() + 1 > budget) break;
    kept.append(components[i]).push_back('/');
  }
  return concat({kept, tag, "/", name});
}

// `path` with "-k" before the extension of its last component, which stays
// within MAX_COMPONENT_BYTES.
std::string with_suffix(std::string_view path, std::size_t k) {
  std::string suffix(1, '-');
  suffix.append(std::to_string(k));
  const std::size_t slash = path.rfind('/');
  const std::size_t name = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = extension_start(path);
  std::size_t stem_end = dot == std::string::npos ? path.size() : dot;
  const std::size_t name_size = path.size() - name + suffix.size();
  if (name_size > MAX_COMPONENT_BYTES) {
    const std::size_t excess = name_size - MAX_COMPONENT_BYTES;
    stem_end =
        name +
        utf8_prefix(path.substr(name, stem_end - name),
                    stem_end - name > excess ? stem_end - name - excess : 0)
            .size();
  }
  std::string out(path.substr(0, stem_end));
  out.append(suffix);
  if (dot != std::string::npos) out.append(path.substr(dot));
  return out;
}

// A query as a piece of a file name: decoded, and every byte a shell or a
// URL would read as syntax ("&", "|", ";", quotes, "*", "?", "#"...) made
// "_", so that a name can be pasted as it stands.
std::string readable_query(std::string_view query) {
  std::string out = decode_name(escape_slashes(query));
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    const bool kept =
        byte >= 0x80 || (byte >= '0' && byte <= '9') || is_letter(c) ||
        std::string_view("-_.=,+%:@").find(c) != std::string_view::npos;
    if (!kept) c = '_';
  }
  return out;
}

// What a location names: a path, the query of a web URL in readable form
// (empty without one), and whether the URL names a directory.
struct LocationName {
  std::string path;
  std::string query;
  bool directory = false;
};

// The relative path a location names, before safety rules: file URLs lose
// their drive or share, http(s) ones keep their host, "cid:X" is cid/X.
// Empty when the location names no file (data:, about:, no location...).
LocationName location_name(std::string_view location,
                           std::string_view base_location) {
  location = trim(location);
  if (location.empty()) return {};
  // "C:\dir\name": a Windows path rather than a URL.
  std::string text(location);
  if (starts_with_drive(text) || (text.size() >= 3 && is_letter(text[0]) &&
                                  text[1] == ':' && text[2] == '\\')) {
    for (char& c : text)
      if (c == '\\') c = '/';
    return {normalised_path(std::string_view(text).substr(2)), {}, false};
  }
  UrlReference url = parse_url(text);
  if (!url.is_absolute()) {
    const UrlReference base = parse_url(trim(base_location));
    if (base.is_absolute() && !starts_with_drive(trim(base_location)))
      url = resolve_url(base, url);
  }
  const std::string& scheme = url.scheme;
  if (scheme.empty()) {
    // A reference with nothing to resolve it against: its path is the name.
    return {joined(url.has_authority ? host_of(url.authority) : "",
                   normalised_path(url.path)),
            {},
            false};
  }
  if (scheme == "file") {
    std::string_view path = url.path;
    const std::string host = lower(url.authority);
    if (host.empty() || host == "localhost") {
      if (path.starts_with('/') && starts_with_drive(path.substr(1)))
        path.remove_prefix(3);
    } else if (!starts_with_drive(host)) {
      // file://host/share/dir: the share is no part of the name.
      const std::size_t share_end = path.find('/', 1);
      path = share_end == std::string_view::npos ? std::string_view{}
                                                 : path.substr(share_end);
    }
    return {normalised_path(path), {}, false};
  }
  if (scheme == "http" || scheme == "https" || scheme == "ftp") {
    // The query keeps pages of one script apart (load.php?x=1, ?x=2).
    return {joined(host_of(url.authority), normalised_path(url.path)),
            url.has_query ? readable_query(url.query) : std::string(),
            names_directory(url.path)};
  }
  if (scheme == "cid") {
    const std::string id = decode_name(escape_slashes(url.path));
    if (id.empty()) return {};
    return {concat({"cid/", id}), {}, false};
  }
  // data:, about:, wyciwyg: and the like name no file.
  return {};
}

}  // namespace

namespace {

// Types a web page holds, each with the extensions a browser that opens a
// file from disk reads it by; the first one is the one a name gets. Rows
// and extensions follow /etc/mime.types (Debian's media-types), kept here
// so that names do not depend on the machine that built the tool.
constexpr auto type_table = std::to_array<TypeExtensions>({
    {"text/html", "html htm shtml"},
    {"application/xhtml+xml", "xhtml xht xhtm"},
    {"text/css", "css"},
    {"text/javascript", "js mjs"},
    {"application/json", "json"},
    {"application/ld+json", "jsonld"},
    {"application/manifest+json", "webmanifest"},
    {"application/xml", "xml"},
    {"application/atom+xml", "atom"},
    {"text/plain", "txt text"},
    {"text/csv", "csv"},
    {"text/calendar", "ics ifb"},
    {"image/png", "png"},
    {"image/apng", "apng"},
    {"image/jpeg", "jpg jpeg jpe jfif"},
    {"image/gif", "gif"},
    {"image/svg+xml", "svg svgz"},
    {"image/webp", "webp"},
    {"image/avif", "avif"},
    {"image/bmp", "bmp"},
    {"image/tiff", "tif tiff"},
    {"image/vnd.microsoft.icon", "ico"},
    {"image/jxl", "jxl"},
    {"image/heic", "heic"},
    {"font/woff", "woff"},
    {"font/woff2", "woff2"},
    {"font/ttf", "ttf"},
    {"font/otf", "otf"},
    {"font/collection", "ttc"},
    {"application/vnd.ms-fontobject", "eot"},
    {"application/pdf", "pdf"},
    {"application/wasm", "wasm"},
    {"application/zip", "zip"},
    {"audio/mpeg", "mp3 mpga mpega mp1 mp2"},
    {"audio/ogg", "ogg oga opus spx"},
    {"audio/x-wav", "wav"},
    {"audio/flac", "flac"},
    {"audio/mp4", "m4a"},
    {"audio/aac", "aac adts"},
    {"video/mp4", "mp4 m4v mpg4"},
    {"video/webm", "webm"},
    {"video/ogg", "ogv"},
    {"video/quicktime", "mov qt"},
    {"application/x-rss+xml", "rss"},
});

// Names servers still send for the types above, which the database lists
// under one name only.
constexpr auto type_aliases =
    std::to_array<std::pair<std::string_view, std::string_view>>({
        {"application/javascript", "text/javascript"},
        {"application/x-javascript", "text/javascript"},
        {"application/ecmascript", "text/javascript"},
        {"text/ecmascript", "text/javascript"},
        {"text/x-javascript", "text/javascript"},
        {"application/x-ecmascript", "text/javascript"},
        {"text/xml", "application/xml"},
        {"text/json", "application/json"},
        {"image/jpg", "image/jpeg"},
        {"image/pjpeg", "image/jpeg"},
        {"image/x-png", "image/png"},
        {"image/x-icon", "image/vnd.microsoft.icon"},
        {"image/ico", "image/vnd.microsoft.icon"},
        {"image/x-ms-bmp", "image/bmp"},
        {"image/svg", "image/svg+xml"},
        {"application/font-woff", "font/woff"},
        {"application/x-font-woff", "font/woff"},
        {"application/font-woff2", "font/woff2"},
        {"application/x-font-woff2", "font/woff2"},
        {"application/font-sfnt", "font/ttf"},
        {"application/x-font-ttf", "font/ttf"},
        {"application/x-font-truetype", "font/ttf"},
        {"application/x-font-otf", "font/otf"},
        {"application/x-font-opentype", "font/otf"},
        {"font/opentype", "font/otf"},
        {"audio/wav", "audio/x-wav"},
        {"application/rss+xml", "application/x-rss+xml"},
    });

}  // namespace

std::span<const TypeExtensions> type_extensions() { return type_table; }

std::string_view extensions_of_type(std::string_view content_type) {
  for (const auto& [alias, type] : type_aliases)
    if (alias == content_type) content_type = type;
  for (const TypeExtensions& row : type_table)
    if (row.type == content_type) return row.extensions;
  return {};
}

std::string extension_for_type(std::string_view content_type) {
  // Nothing names the type of untyped bytes; a part without a name still
  // gets one that says so.
  if (content_type == "application/octet-stream") return ".bin";
  const std::string_view extensions = extensions_of_type(content_type);
  if (extensions.empty()) return {};
  return concat({".", extensions.substr(0, extensions.find(' '))});
}

std::string safe_relative_path(std::string_view path) {
  std::vector<std::string> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    std::string component(path.substr(start, slash - start));
    start = slash + 1;
    if (component.empty() || component == "." || component == "..") continue;
    for (char& c : component)
      if (is_control(static_cast<unsigned char>(c))) c = '_';
    if (component.size() > MAX_COMPONENT_BYTES)
      component = shortened_component(component);
    components.push_back(std::move(component));
  }
  if (components.empty()) return {};
  return joined_within_limit(components);
}

namespace {

// The extension `name` ends in when `extensions` (as in the table) allows
// it, in any case ("a.PNG"); else empty.
std::string_view allowed_extension(std::string_view name,
                                   std::string_view extensions) {
  const std::size_t dot = extension_start(name);
  if (dot == std::string_view::npos) return {};
  const std::string_view extension = name.substr(dot);
  std::size_t start = 0;
  while (start < extensions.size()) {
    std::size_t space = extensions.find(' ', start);
    if (space == std::string_view::npos) space = extensions.size();
    const std::string_view allowed = extensions.substr(start, space - start);
    if (allowed.size() + 1 == extension.size() &&
        ends_with_nocase(extension, allowed))
      return extension;
    start = space + 1;
  }
  return {};
}

// A short extension of letters and digits (".woff2"), which a part whose
// type says little keeps at the end of its name.
std::string_view own_extension(std::string_view name) {
  const std::size_t dot = extension_start(name);
  if (dot == std::string_view::npos || name.size() - dot > 9) return {};
  for (const char c : name.substr(dot + 1))
    if (!is_letter(c) && (c < '0' || c > '9')) return {};
  return name.substr(dot);
}

}  // namespace

std::string part_path(const PartNaming& part, std::string_view archive_stem,
                      bool single_part) {
  const std::string_view extensions = extensions_of_type(part.content_type);
  const std::string extension = extension_for_type(part.content_type);
  LocationName named = location_name(part.location, part.base_location);
  std::string& path = named.path;
  if (named.directory) {
    // A directory's own page, or whatever the server answered there.
    path = joined(path, "index");
    path.append(extensions.empty() ? ".html" : extension);
  }
  // A mail names an attachment with a file name, not a path: it never
  // makes a directory. Where a location names the part, it comes first,
  // as a page refers to the part by it.
  const std::string_view filename = trim(part.filename);
  if (path.empty() && filename != "." && filename != "..")
    path = escape_slashes(filename);
  const std::string_view id = trim(part.content_id);
  if (path.empty() && !id.empty()) path = concat({"cid/", escape_slashes(id)});
  if (path.empty()) {
    if (single_part && !archive_stem.empty())
      path = std::string(archive_stem) + extension;
    else
      path = concat({"part-", std::to_string(part.index), extension});
  }
  // A browser that opens a file from disk knows its type by its extension
  // only, and nothing after the extension: the query goes before it.
  std::string_view ending = allowed_extension(path, extensions);
  // text/plain is what MIME calls a part that names no type: like untyped
  // bytes, it leaves a name's own extension alone.
  const bool weak_type =
      extensions.empty() || part.content_type == "text/plain";
  if (ending.empty() && weak_type) ending = own_extension(path);
  std::string name(path.substr(0, path.size() - ending.size()));
  if (!named.query.empty()) name.append("_").append(named.query);
  if (!ending.empty())
    name.append(ending);
  else if (!extensions.empty())
    name.append(extension);
  // "%3F" and "%23" were decoded with the path; neither may end a name.
  for (char& c : name)
    if (c == '?' || c == '#') c = '_';
  std::string safe = safe_relative_path(name);
  if (safe.empty())
    safe = concat({"part-", std::to_string(part.index), extension});
  return safe;
}

std::string PartNameAllocator::free_variant(const std::string& path,
                                            bool as_directory) {
  std::size_t& k = next_suffix_.try_emplace(path, 2).first->second;
  for (;;) {
    std::string candidate = with_suffix(path, k++);
    if (files_.contains(candidate)) continue;
    if (!as_directory && directories_.contains(candidate)) continue;
    if (!as_directory && on_disk(candidate)) continue;
    return candidate;
  }
}

std::string PartNameAllocator::allocate(std::string path) {
  // A directory on the way that is already a file takes a "-N" of its own.
  for (std::size_t slash = path.find('/'); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    auto renamed = renamed_directories_.find(prefix);
    if (renamed == renamed_directories_.end()) {
      if (!files_.contains(prefix)) continue;
      renamed = renamed_directories_.emplace(prefix, free_variant(prefix, true))
                    .first;
    }
    path.replace(0, slash, renamed->second);
    slash = renamed->second.size();
  }
  if (files_.contains(path) || directories_.contains(path) || on_disk(path))
    path = free_variant(path, false);
  for (std::size_t slash = path.rfind('/'); slash != std::string::npos;
       slash = slash == 0 ? std::string::npos : path.rfind('/', slash - 1)) {
    if (!directories_.insert(path.substr(0, slash)).second) break;
  }
  files_.insert(path);
  return path;
}

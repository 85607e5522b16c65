#include "url.h"

#include <array>
#include <string>

namespace {

bool is_alpha(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

int hex_value(unsigned char c) {
  if (is_digit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Length of the scheme before ":", or 0 when the text starts with none
// (ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ) ":").
std::size_t scheme_length(std::string_view text) {
  if (text.empty() || !is_alpha(static_cast<unsigned char>(text[0]))) return 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == ':') return i;
    if (!is_alpha(c) && !is_digit(c) && c != '+' && c != '-' && c != '.')
      return 0;
  }
  return 0;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Section 5.2.3: the base's path up to its last "/", then the reference's.
std::string merge_paths(const UrlReference& base, std::string_view path) {
  std::string out;
  if (base.has_authority && base.path.empty()) {
    out.push_back('/');
    return out.append(path);
  }
  const std::size_t slash = base.path.rfind('/');
  if (slash != std::string::npos) out.assign(base.path, 0, slash + 1);
  return out.append(path);
}

char lower_byte(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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
      const int high = hex_value(static_cast<unsigned char>(text[i + 1]));
      const int low = hex_value(static_cast<unsigned char>(text[i + 2]));
      if (high >= 0 && low >= 0) {
        const auto decoded = static_cast<unsigned char>(high << 4 | low);
        if (is_unreserved(decoded))
          out.push_back(static_cast<char>(decoded));
        else
          append_percent_escape(out, decoded);
        i += 2;
        continue;
      }
    }
    if (is_literal(byte))
      out.push_back(static_cast<char>(byte));
    else
      append_percent_escape(out, byte);
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

bool kept_in_path(unsigned char c) {
  if (is_unreserved(c)) return true;
  switch (c) {
    case '/':
    case '!':
    case '$':
    case '*':
    case '+':
    case '=':
    case '@':
      return true;
    default:
      return false;
  }
}

}  // namespace

bool is_unreserved(unsigned char byte) {
  return is_alpha(byte) || is_digit(byte) || byte == '-' || byte == '.' ||
         byte == '_' || byte == '~';
}

UrlReference parse_url(std::string_view text) {
  UrlReference url;
  const std::size_t scheme = scheme_length(text);
  if (scheme > 0) {
    url.scheme = lower(text.substr(0, scheme));
    text.remove_prefix(scheme + 1);
  }
  const std::size_t hash = text.find('#');
  if (hash != std::string_view::npos) {
    url.has_fragment = true;
    url.fragment = text.substr(hash + 1);
    text = text.substr(0, hash);
  }
  const std::size_t question = text.find('?');
  if (question != std::string_view::npos) {
    url.has_query = true;
    url.query = text.substr(question + 1);
    text = text.substr(0, question);
  }
  if (text.starts_with("//")) {
    text.remove_prefix(2);
    const std::size_t slash = text.find('/');
    url.has_authority = true;
    url.authority = text.substr(0, slash);
    text = slash == std::string_view::npos ? std::string_view{}
                                           : text.substr(slash);
  }
  url.path = text;
  return url;
}

std::string recompose_url(const UrlReference& url) {
  std::string out;
  if (!url.scheme.empty()) out.append(url.scheme).append(":");
  if (url.has_authority) out.append("//").append(url.authority);
  out.append(url.path);
  if (url.has_query) out.append("?").append(url.query);
  if (url.has_fragment) out.append("#").append(url.fragment);
  return out;
}

std::string remove_dot_segments(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  // Drops the last segment of the output and the "/" before it.
  const auto pop_segment = [&out] {
    const std::size_t slash = out.rfind('/');
    out.resize(slash == std::string::npos ? 0 : slash);
  };
  while (!path.empty()) {
    if (path.starts_with("../")) {
      path.remove_prefix(3);
    } else if (path.starts_with("./") || path.starts_with("/./")) {
      // "./x" loses "./", "/./x" becomes "/x".
      path.remove_prefix(2);
    } else if (path == "/.") {
      path = "/";
    } else if (path.starts_with("/../")) {
      path.remove_prefix(3);
      pop_segment();
    } else if (path == "/..") {
      path = "/";
      pop_segment();
    } else if (path == "." || path == "..") {
      path = {};
    } else {
      // The first segment, with its leading "/" if any, moves to the output.
      const std::size_t next = path.find('/', 1);
      const std::size_t count =
          next == std::string_view::npos ? path.size() : next;
      out.append(path.substr(0, count));
      path.remove_prefix(count);
    }
  }
  return out;
}

UrlReference resolve_url(const UrlReference& base,
                         const UrlReference& reference) {
  UrlReference target;
  if (!reference.scheme.empty()) {
    target = reference;
    target.path = remove_dot_segments(reference.path);
    return target;
  }
  if (reference.has_authority) {
    target.has_authority = true;
    target.authority = reference.authority;
    target.path = remove_dot_segments(reference.path);
    target.has_query = reference.has_query;
    target.query = reference.query;
  } else {
    if (reference.path.empty()) {
      target.path = base.path;
      target.has_query = reference.has_query || base.has_query;
      target.query = reference.has_query ? reference.query : base.query;
    } else {
      target.path = remove_dot_segments(
          reference.path.starts_with('/') ? std::string(reference.path)
                                          : merge_paths(base, reference.path));
      target.has_query = reference.has_query;
      target.query = reference.query;
    }
    target.has_authority = base.has_authority;
    target.authority = base.authority;
  }
  target.scheme = base.scheme;
  target.has_fragment = reference.has_fragment;
  target.fragment = reference.fragment;
  return target;
}

std::string percent_decode(std::string_view text, BytePredicate keep_encoded) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = hex_value(static_cast<unsigned char>(text[i + 1]));
      const int low = hex_value(static_cast<unsigned char>(text[i + 2]));
      if (high >= 0 && low >= 0) {
        const auto byte = static_cast<unsigned char>(high << 4 | low);
        if (keep_encoded == nullptr || !keep_encoded(byte)) {
          out.push_back(static_cast<char>(byte));
          i += 2;
          continue;
        }
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::string percent_decode_unreserved(std::string_view text) {
  return percent_decode(
      text, [](unsigned char byte) { return !is_unreserved(byte); });
}

std::string percent_encode(std::string_view text,
                           std::string_view also_allowed) {
  static constexpr std::array<char, 16> digits = {'0', '1', '2', '3', '4', '5',
                                                  '6', '7', '8', '9', 'A', 'B',
                                                  'C', 'D', 'E', 'F'};
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (is_unreserved(byte) || also_allowed.find(c) != std::string_view::npos) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(digits[byte >> 4]);
      out.push_back(digits[byte & 15]);
    }
  }
  return out;
}

bool is_special_scheme(std::string_view scheme) {
  return scheme == "http" || scheme == "https" || scheme == "file" ||
         scheme == "ftp";
}

UrlReference parse_reference(std::string_view text,
                             std::string_view base_scheme) {
  std::string cleaned;
  cleaned.reserve(text.size());
  for (const char c : text)
    if (c != '\t' && c != '\n' && c != '\r') cleaned.push_back(c);
  UrlReference url = parse_url(cleaned);
  if (cleaned.find('\\') != std::string::npos &&
      is_special_scheme(url.is_absolute() ? std::string_view(url.scheme)
                                          : base_scheme)) {
    for (char& c : cleaned)
      if (c == '\\') c = '/';
    url = parse_url(cleaned);
  }
  return url;
}

UrlKeyParts url_key_parts(const UrlReference& url) {
  UrlKeyParts parts;
  parts.origin = url.scheme;
  if (url.scheme == "cid") {
    std::string id = url.path;
    if (url.has_query) id.append("?").append(url.query);
    parts.origin.append(":").append(percent_decode(id));
    return parts;
  }
  if (!parts.origin.empty()) parts.origin.push_back(':');
  std::string raw = url.path;
  // A drive letter has no case, and "|" is its old spelling: file:///C|/a
  // is file:///c:/a.
  if (url.scheme == "file" && raw.size() >= 3 && raw[0] == '/' &&
      is_alpha(static_cast<unsigned char>(raw[1])) &&
      (raw[2] == ':' || raw[2] == '|') && (raw.size() == 3 || raw[3] == '/')) {
    raw[1] = lower_byte(raw[1]);
    raw[2] = ':';
  }
  parts.path = remove_dot_segments(normal_component(raw));
  if (url.has_authority) {
    parts.origin.append("//").append(
        normal_authority(url.scheme, url.authority));
    if (parts.path.empty() && is_special_scheme(url.scheme))
      parts.path.push_back('/');
  }
  if (url.has_query)
    parts.query.append("?").append(normal_component(url.query));
  return parts;
}

std::string url_key(const UrlReference& url) {
  UrlKeyParts parts = url_key_parts(url);
  return parts.origin.append(parts.path).append(parts.query);
}

std::string normal_url_component(std::string_view text) {
  return normal_component(text);
}

bool has_scheme(std::string_view text) { return scheme_length(text) > 0; }

void append_percent_escape(std::string& out, unsigned char byte) {
  static constexpr char HEX[] = "0123456789ABCDEF";
  out += '%';
  out += HEX[byte >> 4];
  out += HEX[byte & 0x0F];
}

std::string encode_url_path(std::string_view path) {
  std::string result;
  result.reserve(path.size());
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (kept_in_path(c))
      result += ch;
    else
      append_percent_escape(result, c);
  }
  return result;
}

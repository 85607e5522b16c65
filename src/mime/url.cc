#include "url.h"

#include <array>

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

// URL references (RFC 3986): parsing, resolution against a base, dot-segment
// removal, percent-encoding and the key two spellings of one target share.
// Pure functions on bytes; nothing here checks whether a URL makes sense,
// only how its pieces fit together.
#pragma once

#include <string>
#include <string_view>

struct UrlReference {
  std::string scheme;  // lower-cased; empty for a relative reference
  bool has_authority = false;
  std::string authority;
  std::string path;
  bool has_query = false;
  std::string query;
  bool has_fragment = false;
  std::string fragment;

  [[nodiscard]] bool is_absolute() const { return !scheme.empty(); }
  bool operator==(const UrlReference&) const = default;
};

// Splits a reference into its five components (the regular expression of
// RFC 3986 appendix B); the scheme is lower-cased, nothing is decoded.
UrlReference parse_url(std::string_view text);

// Puts the components back together (RFC 3986 section 5.3).
std::string recompose_url(const UrlReference& url);

// Removes "." and ".." segments (RFC 3986 section 5.2.4); ".." never climbs
// above the root.
std::string remove_dot_segments(std::string_view path);

// The target of `reference` seen from `base` (RFC 3986 section 5.2.2, strict:
// a reference with a scheme stands on its own).
UrlReference resolve_url(const UrlReference& base,
                         const UrlReference& reference);

// Decodes every "%XX" (hex digits of either case) unless `keep_encoded`
// says the decoded byte must stay an escape; a "%" without two hex digits
// stays as it is.
using BytePredicate = bool (*)(unsigned char byte);
std::string percent_decode(std::string_view text,
                           BytePredicate keep_encoded = nullptr);

// Decodes only the escapes of unreserved characters (letters, digits,
// "-._~"), the normalisation that keeps a URL's meaning (section 6.2.2.2).
std::string percent_decode_unreserved(std::string_view text);

// Escapes (upper-case "%XX") every byte that is neither unreserved nor in
// `also_allowed`.
std::string percent_encode(std::string_view text,
                           std::string_view also_allowed = {});

// The unreserved characters of RFC 3986.
bool is_unreserved(unsigned char byte);

// A URL in the one form that two spellings of the same target share: scheme
// and host in lower case, no default port, dot segments resolved, escapes of
// unreserved bytes decoded and every other escape in upper case, bytes a URL
// does not carry literally escaped, no fragment. "cid:" URLs are their
// decoded Content-ID. Both sides of a lookup go through it.
std::string url_key(const UrlReference& url);

// The key in three pieces: scheme and authority ("https://h"; the whole
// key for "cid:"), the path, and the query with its "?" (or empty).
struct UrlKeyParts {
  std::string origin;
  std::string path;
  std::string query;
};
UrlKeyParts url_key_parts(const UrlReference& url);

// A path or query in the spelling keys use (before dot segments go).
std::string normal_url_component(std::string_view text);

// Schemes whose URLs a browser reads with "\\" as "/".
bool is_special_scheme(std::string_view scheme);

// A URL as a browser takes it from an attribute: tabs and line ends inside
// it dropped; in special schemes (its own or, when relative, `base_scheme`),
// "\\" read as "/".
UrlReference parse_reference(std::string_view text,
                             std::string_view base_scheme);

// True when `text` starts with a scheme ("https:", "cid:"): it names its
// target without a base.
bool has_scheme(std::string_view text);

// Appends `byte` as a percent escape ("%2F"), upper-case hex.
void append_percent_escape(std::string& out, unsigned char byte);

// `path` with every byte percent-encoded that a URL path would not carry
// literally or that would end an attribute, a srcset candidate or a CSS
// url(): "%", "#", "?", ":", space, quotes, brackets, backslashes, commas,
// control and non-ASCII bytes. "/" separators stay.
std::string encode_url_path(std::string_view path);

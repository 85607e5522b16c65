#include "reference_rewriter.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "url.h"
#include "page_charset.h"

namespace {

constexpr std::size_t NONE = static_cast<std::size_t>(-1);

bool is_space(char32_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool is_alnum(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9');
}

bool is_letter(char32_t c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char32_t lower(char32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Code units of the part: bytes, or UTF-16 in either byte order.
struct ByteUnits {
  static constexpr std::size_t WIDTH = 1;
  static char32_t at(const char* p, std::size_t i) {
    return static_cast<unsigned char>(p[i]);
  }
  static void put(std::string& out, char c) { out += c; }
};

struct Utf16LeUnits {
  static constexpr std::size_t WIDTH = 2;
  static char32_t at(const char* p, std::size_t i) {
    return static_cast<unsigned char>(p[2 * i]) |
           (static_cast<char32_t>(static_cast<unsigned char>(p[2 * i + 1]))
            << 8);
  }
  static void put(std::string& out, char c) {
    out += c;
    out += '\0';
  }
};

struct Utf16BeUnits {
  static constexpr std::size_t WIDTH = 2;
  static char32_t at(const char* p, std::size_t i) {
    return (static_cast<char32_t>(static_cast<unsigned char>(p[2 * i])) << 8) |
           static_cast<unsigned char>(p[2 * i + 1]);
  }
  static void put(std::string& out, char c) {
    out += '\0';
    out += c;
  }
};

// A stretch of the part as bytes for the CSS and srcset scanners, with the
// code unit of the part that each byte came from. Bytes of an ASCII-
// compatible part without character references are the part itself.
class DecodedText {
 public:
  DecodedText(std::string_view view, std::size_t origin)
      : text_(view), origin_(origin) {}
  DecodedText(std::string&& storage, std::vector<std::size_t>&& map, bool ok)
      : storage_(std::move(storage)),
        text_(storage_),
        map_(std::move(map)),
        ok_(ok) {}
  DecodedText(const DecodedText&) = delete;
  DecodedText& operator=(const DecodedText&) = delete;
  DecodedText(DecodedText&&) = delete;
  DecodedText& operator=(DecodedText&&) = delete;
  ~DecodedText() = default;

  [[nodiscard]] std::string_view text() const { return text_; }
  // False when it holds a character reference this reader cannot decode.
  [[nodiscard]] bool ok() const { return ok_; }
  // The code unit of the part where byte `i` (or the end, i == size) began.
  [[nodiscard]] std::size_t unit(std::size_t i) const {
    return map_.empty() ? origin_ + i : map_[i];
  }

 private:
  std::string storage_;
  std::string_view text_;
  std::vector<std::size_t> map_;
  std::size_t origin_ = 0;
  bool ok_ = true;
};

struct Edit {
  std::size_t begin;  // code units of the part
  std::size_t end;
  std::string text;  // ASCII
};

// What the scanners share whatever the code unit: the caller's resolver,
// the base in effect and the edits found so far, in order.
class Rewrite {
 public:
  Rewrite(const ReferenceResolver& resolve, bool backslash_escapes)
      : resolve_(resolve), backslash_escapes_(backslash_escapes) {}

  std::vector<Edit>& edits() { return edits_; }
  std::string& base() { return base_; }

  // The reference in text[begin, end) of `decoded`.
  void reference(const DecodedText& decoded, std::size_t begin, std::size_t end,
                 bool in_attribute) {
    const std::string_view text = decoded.text();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
      ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
      --end;
    const std::size_t hash = text.substr(begin, end - begin).find('#');
    if (hash != std::string_view::npos) end = begin + hash;
    if (begin == end || !decoded.ok()) return;
    std::optional<std::string> replacement =
        resolve_(text.substr(begin, end - begin), base_);
    if (!replacement) return;
    edits_.push_back({decoded.unit(begin), decoded.unit(end),
                      safe(*replacement, in_attribute)});
  }

  void css(const DecodedText& decoded, bool in_attribute);
  void srcset(const DecodedText& decoded);

 private:
  const ReferenceResolver& resolve_;
  bool backslash_escapes_;
  std::string base_;
  std::vector<Edit> edits_;

  static bool safe_byte(unsigned char c) {
    if (c <= ' ' || c >= 0x7F) return false;
    switch (c) {
      case '"':
      case '\'':
      case '<':
      case '>':
      case '`':
      case '\\':
      case '(':
      case ')':
      case ',':
      case '&':
        return false;
      default:
        return true;
    }
  }

  static std::string safe(std::string_view replacement, bool in_attribute) {
    std::string result;
    result.reserve(replacement.size());
    for (const char ch : replacement) {
      const auto c = static_cast<unsigned char>(ch);
      if (c == '&' && in_attribute) {
        result += "&amp;";
      } else if (safe_byte(c) || c == '&') {
        result += ch;
      } else {
        append_percent_escape(result, c);
      }
    }
    return result;
  }

  [[nodiscard]] std::size_t skip_string(std::string_view css,
                                        std::size_t i) const;
  std::size_t url_function(const DecodedText& decoded, std::size_t i,
                           bool in_attribute);
};

bool starts_with_lower(std::string_view text, std::size_t i,
                       std::string_view word) {
  if (text.size() - i < word.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k) {
    if (lower(static_cast<unsigned char>(text[i + k])) !=
        static_cast<unsigned char>(word[k]))
      return false;
  }
  return true;
}

bool is_css_name(unsigned char c) {
  return is_alnum(c) || c == '-' || c == '_' || c >= 0x80;
}

// From an opening quote at `i` to just past its closing quote (or the line
// end that breaks the string, or the end).
std::size_t Rewrite::skip_string(std::string_view css, std::size_t i) const {
  const char quote = css[i];
  for (++i; i < css.size(); ++i) {
    const char c = css[i];
    if (c == quote) return i + 1;
    if (c == '\n' || c == '\r' || c == '\f') return i;
    if (c == '\\' && backslash_escapes_) ++i;
  }
  return css.size();
}

// Just after "url(" at `i`: the reference, and where scanning goes on.
std::size_t Rewrite::url_function(const DecodedText& decoded, std::size_t i,
                                  bool in_attribute) {
  const std::string_view css = decoded.text();
  while (i < css.size() && is_space(static_cast<unsigned char>(css[i]))) ++i;
  if (i == css.size()) return i;
  if (css[i] == '"' || css[i] == '\'') {
    const std::size_t end = skip_string(css, i);
    const bool closed = end > i + 1 && css[end - 1] == css[i];
    const std::string_view inner = css.substr(i + 1, end - i - 2);
    if (closed &&
        (!backslash_escapes_ || inner.find('\\') == std::string_view::npos))
      reference(decoded, i + 1, end - 1, in_attribute);
    return end;
  }
  const std::size_t begin = i;
  bool good = true;
  for (; i < css.size(); ++i) {
    const char c = css[i];
    if (c == ')' || is_space(static_cast<unsigned char>(c))) break;
    if (c == '"' || c == '\'' || c == '(' ||
        (c == '\\' && backslash_escapes_)) {
      good = false;  // a bad url, or one with escapes: left alone
      if (c == '\\') ++i;
    }
  }
  const std::size_t end = std::min(i, css.size());
  while (i < css.size() && is_space(static_cast<unsigned char>(css[i]))) ++i;
  if (good && i < css.size() && css[i] == ')')
    reference(decoded, begin, end, in_attribute);
  return std::min(i, css.size());
}

void Rewrite::css(const DecodedText& decoded, bool in_attribute) {
  const std::string_view css = decoded.text();
  // Most style attributes hold no function and no at-rule at all.
  if (in_attribute && css.find('(') == std::string_view::npos &&
      css.find('@') == std::string_view::npos)
    return;
  std::size_t i = 0;
  while (i < css.size()) {
    const char c = css[i];
    if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
      const std::size_t close = css.find("*/", i + 2);
      if (close == std::string_view::npos) return;
      i = close + 2;
    } else if (c == '"' || c == '\'') {
      i = skip_string(css, i);
    } else if (c == '\\' && backslash_escapes_) {
      i += 2;
    } else if ((c == 'u' || c == 'U') && starts_with_lower(css, i, "url(") &&
               (i == 0 ||
                !is_css_name(static_cast<unsigned char>(css[i - 1])))) {
      i = url_function(decoded, i + 4, in_attribute);
    } else if (c == '@' && starts_with_lower(css, i + 1, "import") &&
               (i + 7 == css.size() ||
                !is_css_name(static_cast<unsigned char>(css[i + 7])))) {
      i += 7;
      while (i < css.size() && is_space(static_cast<unsigned char>(css[i])))
        ++i;
      if (i < css.size() && (css[i] == '"' || css[i] == '\'')) {
        const std::size_t end = skip_string(css, i);
        const std::string_view inner = css.substr(i + 1, end - i - 2);
        if (end > i + 1 && css[end - 1] == css[i] &&
            (!backslash_escapes_ || inner.find('\\') == std::string_view::npos))
          reference(decoded, i + 1, end - 1, in_attribute);
        i = end;
      }
    } else {
      ++i;
    }
  }
}

// Candidates as the HTML srcset parser splits them: a URL is a run of
// non-white-space (trailing commas end it), descriptors run to the next
// comma outside parentheses.
void Rewrite::srcset(const DecodedText& decoded) {
  const std::string_view text = decoded.text();
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() &&
           (is_space(static_cast<unsigned char>(text[i])) || text[i] == ','))
      ++i;
    if (i == text.size()) return;
    const std::size_t begin = i;
    while (i < text.size() && !is_space(static_cast<unsigned char>(text[i])))
      ++i;
    std::size_t end = i;
    if (text[end - 1] == ',') {
      while (end > begin && text[end - 1] == ',') --end;
    } else {
      int depth = 0;
      for (; i < text.size(); ++i) {
        if (text[i] == '(') ++depth;
        if (text[i] == ')' && depth > 0) --depth;
        if (text[i] == ',' && depth == 0) break;
      }
    }
    reference(decoded, begin, end, true);
  }
}

// A character reference at `i` (an "&") in an attribute value: what it
// decodes to and how many units it spans.
struct CharacterReference {
  enum Kind { literal, decoded, unknown } kind = literal;
  char32_t value = 0;
  std::size_t length = 1;
};

enum class TagKind { other, base, script, style, raw_text, plaintext };

enum class AttributeKind { none, url, srcset, style };

template <class Units>
class HtmlScanner {
 public:
  HtmlScanner(std::string_view part, Rewrite& rewrite, bool css_only)
      : data_(part.data()),
        size_(part.size() / Units::WIDTH),
        rewrite_(rewrite),
        css_only_(css_only) {}

  // The position of the <base href> value's edit, or NONE.
  std::size_t run() {
    if (css_only_) {
      const DecodedText all = decode(0, size_, false);
      rewrite_.css(all, false);
      return NONE;
    }
    std::size_t i = 0;
    while ((i = find('<', i)) < size_) i = markup(i);
    return base_edit_;
  }

 private:
  const char* data_;
  std::size_t size_;  // code units
  Rewrite& rewrite_;
  bool css_only_;
  bool base_seen_ = false;
  std::size_t base_edit_ = NONE;

  [[nodiscard]] char32_t at(std::size_t i) const { return Units::at(data_, i); }

  [[nodiscard]] std::size_t find(char32_t c, std::size_t from) const {
    if constexpr (Units::WIDTH == 1) {
      if (from >= size_) return size_;
      const void* hit =
          std::memchr(data_ + from, static_cast<int>(c), size_ - from);
      return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) -
                                            data_)
                 : size_;
    } else {
      while (from < size_ && at(from) != c) ++from;
      return from;
    }
  }

  // True when the units at `i` are `word` (lower case) in any case.
  [[nodiscard]] bool matches(std::size_t i, std::string_view word) const {
    if (size_ - i < word.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k) {
      if (lower(at(i + k)) != static_cast<unsigned char>(word[k])) return false;
    }
    return true;
  }

  // The name in units [begin, end), lower case, if short enough to matter.
  [[nodiscard]] std::string_view name(std::size_t begin, std::size_t end,
                                      char (&buffer)[16]) const {
    if (end - begin > sizeof buffer) return {};
    for (std::size_t k = begin; k < end; ++k) {
      const char32_t c = lower(at(k));
      buffer[k - begin] = c < 0x80 ? static_cast<char>(c) : '\x7F';
    }
    return {buffer, end - begin};
  }

  // Markup at `i` ("<"): skips it, rewriting what it holds; returns where
  // text goes on.
  std::size_t markup(std::size_t i) {
    const std::size_t next = i + 1;
    if (next >= size_) return size_;
    const char32_t c = at(next);
    if (c == '!') {
      if (matches(next + 1, "--")) return after_sequence(next + 1, "-->");
      return after('>', next);
    }
    if (c == '?') return after('>', next);
    if (c == '/') {
      if (next + 1 < size_ && is_letter(at(next + 1)))
        return tag(next + 1, false);
      return after('>', next);
    }
    if (is_letter(c)) return tag(next, true);
    return next;
  }

  [[nodiscard]] std::size_t after(char32_t c, std::size_t from) const {
    const std::size_t hit = find(c, from);
    return hit == size_ ? size_ : hit + 1;
  }

  std::size_t after_sequence(std::size_t from, std::string_view sequence) {
    while ((from = find(static_cast<unsigned char>(sequence[0]), from)) <
           size_) {
      if (matches(from, sequence)) return from + sequence.size();
      ++from;
    }
    return size_;
  }

  static TagKind tag_kind(std::string_view tag) {
    if (tag == "base") return TagKind::base;
    if (tag == "script") return TagKind::script;
    if (tag == "style") return TagKind::style;
    if (tag == "textarea" || tag == "title" || tag == "xmp" ||
        tag == "iframe" || tag == "noembed" || tag == "noframes")
      return TagKind::raw_text;
    if (tag == "plaintext") return TagKind::plaintext;
    return TagKind::other;
  }

  static AttributeKind attribute_kind(std::string_view attribute) {
    if (attribute == "src" || attribute == "href" || attribute == "poster" ||
        attribute == "data" || attribute == "background" ||
        attribute == "xlink:href")
      return AttributeKind::url;
    if (attribute == "srcset" || attribute == "imagesrcset")
      return AttributeKind::srcset;
    if (attribute == "style") return AttributeKind::style;
    return AttributeKind::none;
  }

  // A start or end tag whose name begins at `i`; returns where text goes on
  // (after the element's contents for raw text elements).
  std::size_t tag(std::size_t i, bool start) {
    const std::size_t name_begin = i;
    while (i < size_ && !is_space(at(i)) && at(i) != '/' && at(i) != '>') ++i;
    char tag_buffer[16];
    const std::string_view tag_name = name(name_begin, i, tag_buffer);
    const TagKind kind = start ? tag_kind(tag_name) : TagKind::other;
    char buffer[16];
    while (true) {
      while (i < size_ && (is_space(at(i)) || at(i) == '/')) ++i;
      if (i >= size_) return size_;
      if (at(i) == '>') break;
      const std::size_t attribute_begin = i++;  // may begin with "="
      while (i < size_ && !is_space(at(i)) && at(i) != '/' && at(i) != '>' &&
             at(i) != '=')
        ++i;
      const std::size_t attribute_end = i;
      while (i < size_ && is_space(at(i))) ++i;
      if (i >= size_ || at(i) != '=') continue;
      ++i;
      while (i < size_ && is_space(at(i))) ++i;
      if (i >= size_) return size_;
      std::size_t value_begin = i;
      std::size_t value_end = i;
      bool quoted = false;
      const char32_t q = at(i);
      if (q == '"' || q == '\'') {
        value_begin = i + 1;
        value_end = find(q, value_begin);
        if (value_end == size_) return size_;
        i = value_end + 1;
        quoted = true;
      } else {
        while (i < size_ && !is_space(at(i)) && at(i) != '>') ++i;
        value_end = i;
      }
      if (start)
        attribute(kind, name(attribute_begin, attribute_end, buffer),
                  value_begin, value_end, quoted);
    }
    ++i;  // the ">"
    switch (kind) {
      case TagKind::script:
      case TagKind::raw_text:
        return end_tag(i, tag_name);
      case TagKind::style: {
        const std::size_t end = end_tag(i, tag_name);
        const DecodedText contents = decode(i, end, false);
        rewrite_.css(contents, false);
        return end;
      }
      case TagKind::plaintext:
        return size_;
      default:
        return i;
    }
  }

  // Where "</name" followed by white space, "/" or ">" begins, or the end.
  [[nodiscard]] std::size_t end_tag(std::size_t i, std::string_view tag) const {
    while ((i = find('<', i)) < size_) {
      if (i + 1 < size_ && at(i + 1) == '/' && matches(i + 2, tag)) {
        const std::size_t after_name = i + 2 + tag.size();
        if (after_name == size_ || is_space(at(after_name)) ||
            at(after_name) == '/' || at(after_name) == '>')
          return i;
      }
      ++i;
    }
    return size_;
  }

  void attribute(TagKind tag, std::string_view attribute,
                 std::size_t value_begin, std::size_t value_end, bool quoted) {
    if (tag == TagKind::base && attribute == "href") {
      if (base_seen_) return;
      base_seen_ = true;
      const DecodedText value = decode(value_begin, value_end, true);
      if (!value.ok()) return;
      rewrite_.base() = value.text();
      base_edit_ = rewrite_.edits().size();
      rewrite_.edits().push_back(
          {value_begin, value_end, quoted ? std::string() : "\"\""});
      return;
    }
    switch (attribute_kind(attribute)) {
      case AttributeKind::url: {
        const DecodedText value = decode(value_begin, value_end, true);
        rewrite_.reference(value, 0, value.text().size(), true);
        break;
      }
      case AttributeKind::srcset:
        rewrite_.srcset(decode(value_begin, value_end, true));
        break;
      case AttributeKind::style:
        rewrite_.css(decode(value_begin, value_end, true), true);
        break;
      case AttributeKind::none:
        break;
    }
  }

  [[nodiscard]] CharacterReference character_reference(std::size_t i,
                                                       std::size_t end) const {
    CharacterReference ref;
    std::size_t k = i + 1;
    if (k < end && at(k) == '#') {
      ++k;
      const bool hex = k < end && (at(k) == 'x' || at(k) == 'X');
      if (hex) ++k;
      const std::size_t digits = k;
      char32_t value = 0;
      for (; k < end; ++k) {
        const char32_t c = lower(at(k));
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
          digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
          digit = c - 'a' + 10;
        } else {
          break;
        }
        value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + digit;
      }
      if (k == digits) return ref;  // "&#" alone is text
      if (k < end && at(k) == ';') ++k;
      ref.length = k - i;
      if (value >= 0x80 && value < 0xA0) {
        ref.kind = CharacterReference::unknown;  // windows-1252 remapping
        return ref;
      }
      if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000))
        value = 0xFFFD;
      ref.kind = CharacterReference::decoded;
      ref.value = value;
      return ref;
    }
    while (k < end && is_alnum(at(k))) ++k;
    if (k == i + 1) return ref;
    const bool semicolon = k < end && at(k) == ';';
    static constexpr struct {
      std::string_view name;
      char32_t value;
      bool legacy;  // recognised without the ";" as well
    } NAMES[] = {{"amp", '&', true},    {"lt", '<', true},
                 {"gt", '>', true},     {"quot", '"', true},
                 {"apos", '\'', false}, {"nbsp", 0xA0, true}};
    for (const auto& entry : NAMES) {
      // Names are case-sensitive; the legacy capitals are rare in URLs.
      bool same = entry.name.size() == k - i - 1;
      for (std::size_t n = 0; same && n < entry.name.size(); ++n)
        same = at(i + 1 + n) == static_cast<unsigned char>(entry.name[n]);
      if (!same) continue;
      if (!semicolon && (!entry.legacy || (k < end && at(k) == '=')))
        return ref;
      ref.kind = CharacterReference::decoded;
      ref.value = entry.value;
      ref.length = k - i + (semicolon ? 1 : 0);
      return ref;
    }
    // "&x=" is text in an attribute; any other name might be one of the
    // entities this reader does not know.
    if (!semicolon && k < end && at(k) == '=') return ref;
    ref.kind = CharacterReference::unknown;
    return ref;
  }

  // Units [begin, end) as bytes, character references decoded when
  // `attribute`.
  [[nodiscard]] DecodedText decode(std::size_t begin, std::size_t end,
                                   bool attribute) const {
    if constexpr (Units::WIDTH == 1) {
      const std::string_view raw(data_ + begin, end - begin);
      if (!attribute || raw.find('&') == std::string_view::npos)
        return {raw, begin};
    }
    std::string text;
    std::vector<std::size_t> map;
    text.reserve(end - begin);
    map.reserve(end - begin + 1);
    bool ok = true;
    for (std::size_t i = begin; i < end;) {
      const std::size_t start = i;
      char32_t c = at(i);
      std::size_t length = 1;
      bool as_utf8 = Units::WIDTH > 1;
      if (c == '&' && attribute) {
        const CharacterReference ref = character_reference(i, end);
        if (ref.kind == CharacterReference::unknown) ok = false;
        if (ref.kind == CharacterReference::decoded) {
          c = ref.value;
          length = ref.length;
          as_utf8 = true;
        }
      } else if (Units::WIDTH > 1 && c >= 0xD800 && c < 0xE000) {
        const char32_t low = i + 1 < end ? at(i + 1) : 0;
        if (c < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          length = 2;
        } else {
          c = 0xFFFD;
        }
      }
      const std::size_t before = text.size();
      if (as_utf8) {
        append_utf8(text, c);
      } else {
        text += static_cast<char>(c);
      }
      map.insert(map.end(), text.size() - before, start);
      i += length;
    }
    map.push_back(end);
    return {std::move(text), std::move(map), ok};
  }
};

template <class Units>
void emit(std::string_view part, const std::vector<Edit>& edits,
          const ByteSink& write) {
  std::size_t done = 0;
  std::string wide;
  for (const Edit& edit : edits) {
    write(part.substr(done, edit.begin * Units::WIDTH - done));
    if constexpr (Units::WIDTH == 1) {
      write(edit.text);
    } else {
      wide.clear();
      for (const char c : edit.text) Units::put(wide, c);
      write(wide);
    }
    done = edit.end * Units::WIDTH;
  }
  write(part.substr(done));
}

template <class Units>
RewriteReport rewrite_as(std::string_view part, PartSyntax syntax,
                         bool backslash_escapes,
                         const ReferenceResolver& resolve,
                         const ByteSink& write) {
  Rewrite rewrite(resolve, backslash_escapes);
  HtmlScanner<Units> scanner(part, rewrite, syntax == PartSyntax::css);
  const std::size_t base_edit = scanner.run();
  std::vector<Edit>& edits = rewrite.edits();
  RewriteReport report;
  report.base = std::move(rewrite.base());
  if (base_edit != NONE) {
    if (edits.size() == 1) {
      edits.pop_back();  // nothing else was replaced: keep it
    } else {
      report.base_cleared = true;
    }
  }
  report.references = edits.size() - (report.base_cleared ? 1 : 0);
  if (!edits.empty()) report.status = RewriteStatus::rewritten;
  emit<Units>(part, edits, write);
  return report;
}

}  // namespace

RewriteReport rewrite_references(std::string_view part, PartSyntax syntax,
                                 std::string_view charset,
                                 const ReferenceResolver& resolve,
                                 const ByteSink& write) {
  const PageCharset page = detect_page_charset(part, charset);
  switch (page.encoding) {
    case PageEncoding::bytes:
      return rewrite_as<ByteUnits>(part, syntax, !page.backslash_is_text,
                                   resolve, write);
    case PageEncoding::utf16le:
      return rewrite_as<Utf16LeUnits>(part, syntax, true, resolve, write);
    case PageEncoding::utf16be:
      return rewrite_as<Utf16BeUnits>(part, syntax, true, resolve, write);
    case PageEncoding::unsupported:
      break;
  }
  write(part);
  RewriteReport report;
  report.status = RewriteStatus::unsupported_charset;
  return report;
}

RewriteReport rewrite_references(std::string_view part, PartSyntax syntax,
                                 std::string_view charset,
                                 const ReferenceResolver& resolve,
                                 std::string& output) {
  output.clear();
  std::size_t pieces = 0;
  RewriteReport report = rewrite_references(
      part, syntax, charset, resolve, [&](std::string_view bytes) {
        if (pieces++ == 0) output.reserve(part.size() + part.size() / 16);
        output.append(bytes);
      });
  if (report.status != RewriteStatus::rewritten) output.clear();
  return report;
}

#include "html_scanner.h"

#include <cstring>
#include <utility>
#include <vector>

namespace {

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

// How many units at `i` agree with `word` (lower case) in any case.
std::size_t agreeing(const UnitView& units, std::size_t i,
                     std::string_view word) {
  std::size_t k = 0;
  while (k < word.size() && i + k < units.size &&
         lower(units.at(i + k)) == static_cast<unsigned char>(word[k]))
    ++k;
  return k;
}

// The name in units [begin, end), lower case, if short enough to matter.
std::string_view name_of(const UnitView& units, std::size_t begin,
                         std::size_t end, char (&buffer)[16]) {
  if (end - begin > sizeof buffer) return {};
  if (units.width == 1) {
    for (std::size_t k = begin; k < end; ++k) {
      const char c = units.data[k];
      buffer[k - begin] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    }
    return {buffer, end - begin};
  }
  for (std::size_t k = begin; k < end; ++k) {
    const char32_t c = lower(units.at(k));
    buffer[k - begin] = c < 0x80 ? static_cast<char>(c) : '\x7F';
  }
  return {buffer, end - begin};
}

enum class TagKind { other, base, script, style, raw_text, plaintext };

TagKind tag_kind(std::string_view tag) {
  if (tag == "base") return TagKind::base;
  if (tag == "script") return TagKind::script;
  if (tag == "style") return TagKind::style;
  if (tag == "textarea" || tag == "title" || tag == "xmp" || tag == "iframe" ||
      tag == "noembed" || tag == "noframes")
    return TagKind::raw_text;
  if (tag == "plaintext") return TagKind::plaintext;
  return TagKind::other;
}

enum class AttributeKind { none, url, srcset, style, link, crossorigin };

AttributeKind attribute_kind(std::string_view attribute) {
  // data-src and the like: a page's own script moves them into src.
  if (attribute == "src" || attribute == "href" || attribute == "poster" ||
      attribute == "data" || attribute == "background" ||
      attribute == "xlink:href" || attribute == "data-src" ||
      attribute == "data-lazy-src" || attribute == "data-original")
    return AttributeKind::url;
  if (attribute == "srcset" || attribute == "imagesrcset" ||
      attribute == "data-srcset")
    return AttributeKind::srcset;
  if (attribute == "style") return AttributeKind::style;
  // Read only against a <base href>, which the rewriting removes: they
  // must keep naming what they named.
  if (attribute == "action" || attribute == "formaction" ||
      attribute == "cite" || attribute == "longdesc" ||
      attribute == "manifest" || attribute == "codebase" ||
      attribute == "icon" || attribute == "profile")
    return AttributeKind::link;
  if (attribute == "crossorigin") return AttributeKind::crossorigin;
  return AttributeKind::none;
}

// Candidates as the HTML srcset parser splits them: a URL is a run of
// non-white-space (trailing commas end it), descriptors run to the next
// comma outside parentheses.
void srcset(const DecodedText& decoded, ReferenceSink& sink) {
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
    sink.reference(decoded, begin, end, true);
  }
}

// A character reference at `i` (an "&") in an attribute value: what it
// decodes to and how many units it spans.
struct CharacterReference {
  enum Kind { literal, decoded, unknown } kind = literal;
  char32_t value = 0;
  std::size_t length = 1;
};

CharacterReference character_reference(const UnitView& units, std::size_t i,
                                       std::size_t end) {
  CharacterReference ref;
  std::size_t k = i + 1;
  if (k < end && units.at(k) == '#') {
    ++k;
    const bool hex = k < end && (units.at(k) == 'x' || units.at(k) == 'X');
    if (hex) ++k;
    const std::size_t digits = k;
    char32_t value = 0;
    for (; k < end; ++k) {
      const char32_t c = lower(units.at(k));
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
    if (k < end && units.at(k) == ';') ++k;
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
  while (k < end && is_alnum(units.at(k))) ++k;
  if (k == i + 1) return ref;
  const bool semicolon = k < end && units.at(k) == ';';
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
      same = units.at(i + 1 + n) == static_cast<unsigned char>(entry.name[n]);
    if (!same) continue;
    if (!semicolon && (!entry.legacy || (k < end && units.at(k) == '=')))
      return ref;
    ref.kind = CharacterReference::decoded;
    ref.value = entry.value;
    ref.length = k - i + (semicolon ? 1 : 0);
    return ref;
  }
  // "&x=" is text in an attribute; any other name might be one of the
  // entities this reader does not know.
  if (!semicolon && k < end && units.at(k) == '=') return ref;
  ref.kind = CharacterReference::unknown;
  return ref;
}

// A code unit, read without asking the width in the loops that tags spend
// their time in.
template <std::size_t W>
char32_t unit(const UnitView& units, std::size_t i) {
  if constexpr (W == 1) {
    return static_cast<unsigned char>(units.data[i]);
  } else {
    return units.at(i);
  }
}

// A tag's attributes from `i` to its ">" (`closed`) or the end of the
// units; returns where reading stopped.
template <std::size_t W, class Attributes>
std::size_t read_attributes(const UnitView& units, std::size_t i,
                            Attributes& attributes, bool& closed) {
  const std::size_t n = units.size;
  while (true) {
    while (i < n && (is_space(unit<W>(units, i)) || unit<W>(units, i) == '/'))
      ++i;
    if (i >= n) break;
    if (unit<W>(units, i) == '>') {
      closed = true;
      break;
    }
    typename Attributes::value_type attribute{i, 0, 0, 0, false, false};
    ++i;  // may begin with "="
    while (i < n && !is_space(unit<W>(units, i)) && unit<W>(units, i) != '/' &&
           unit<W>(units, i) != '>' && unit<W>(units, i) != '=')
      ++i;
    attribute.name_end = i;
    attribute.value_begin = attribute.value_end = i;
    while (i < n && is_space(unit<W>(units, i))) ++i;
    if (i >= n || unit<W>(units, i) != '=') {
      attributes.push_back(attribute);
      continue;
    }
    ++i;
    while (i < n && is_space(unit<W>(units, i))) ++i;
    if (i >= n) break;
    const char32_t q = unit<W>(units, i);
    if (q == '"' || q == '\'') {
      attribute.value_begin = i + 1;
      attribute.value_end = units.find(q, i + 1);
      if (attribute.value_end >= n) break;
      i = attribute.value_end + 1;
      attribute.quoted = true;
    } else {
      attribute.value_begin = i;
      while (i < n && !is_space(unit<W>(units, i)) && unit<W>(units, i) != '>')
        ++i;
      attribute.value_end = i;
    }
    attribute.has_value = true;
    attributes.push_back(attribute);
  }
  return i;
}

}  // namespace

std::size_t UnitView::find(char32_t c, std::size_t from) const {
  if (from >= size) return size;
  if (width == 1) {
    const void* hit =
        std::memchr(data + from, static_cast<int>(c), size - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data)
               : size;
  }
  while (from < size && at(from) != c) ++from;
  return from;
}

DecodedText decode_units(const UnitView& units, std::size_t begin,
                         std::size_t end, bool attribute) {
  if (units.width == 1) {
    const std::string_view raw(units.data + begin, end - begin);
    if (!attribute || raw.find('&') == std::string_view::npos)
      return {raw, units.origin + begin};
  }
  std::string text;
  std::vector<std::size_t> map;
  text.reserve(end - begin);
  map.reserve(end - begin + 1);
  bool ok = true;
  for (std::size_t i = begin; i < end;) {
    const std::size_t start = i;
    char32_t c = units.at(i);
    std::size_t length = 1;
    bool as_utf8 = units.width > 1;
    if (c == '&' && attribute) {
      const CharacterReference ref = character_reference(units, i, end);
      if (ref.kind == CharacterReference::unknown) ok = false;
      if (ref.kind == CharacterReference::decoded) {
        c = ref.value;
        length = ref.length;
        as_utf8 = true;
      }
    } else if (units.width > 1 && c >= 0xD800 && c < 0xE000) {
      const char32_t low = i + 1 < end ? units.at(i + 1) : 0;
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
    map.insert(map.end(), text.size() - before, units.origin + start);
    i += length;
  }
  map.push_back(units.origin + end);
  return {std::move(text), std::move(map), ok};
}

std::size_t HtmlScanner::scan(const UnitView& units, bool final, bool force,
                              MarkupSink& sink) {
  const std::size_t n = units.size;
  std::size_t i = 0;
  while (i < n) {
    switch (mode_) {
      case Mode::text: {
        i = units.find('<', i);
        if (i >= n) return n;
        const std::size_t next = markup(units, i, final, force && i == 0, sink);
        if (next == INCOMPLETE) return i;
        i = next;
        break;
      }
      case Mode::comment:
        for (std::size_t from = i;; ++from) {
          from = units.find('-', from);
          if (from >= n) return n;
          const std::size_t agree = agreeing(units, from, "-->");
          if (agree == 3) {
            i = from + 3;
            mode_ = Mode::text;
            break;
          }
          if (from + agree == n && !final) return from;
        }
        break;
      case Mode::bogus: {
        const std::size_t hit = units.find('>', i);
        if (hit >= n) return n;
        i = hit + 1;
        mode_ = Mode::text;
        break;
      }
      case Mode::raw_text: {
        bool found = false;
        const std::size_t end = end_tag(units, i, raw_tag_, final, found);
        if (end == INCOMPLETE) return n;
        if (!found) return end;
        i = end;
        mode_ = Mode::text;
        break;
      }
      case Mode::style:
      case Mode::css: {
        const std::size_t next = style(units, i, final, force, sink);
        if (mode_ != Mode::text) return next;
        i = next;
        break;
      }
      case Mode::plaintext:
        return n;
      case Mode::tag:
        i = skip_tag(units, i, sink);
        break;
    }
  }
  return n;
}

// Markup at `i` ("<"): reads it, rewriting what it holds; returns where
// text goes on, or INCOMPLETE.
std::size_t HtmlScanner::markup(const UnitView& units, std::size_t i,
                                bool final, bool force, MarkupSink& sink) {
  const std::size_t n = units.size;
  const std::size_t next = i + 1;
  if (next >= n) return final ? n : INCOMPLETE;
  const char32_t c = units.at(next);
  if (c == '!') {
    const std::size_t agree = agreeing(units, next + 1, "--");
    if (agree == 2) {
      mode_ = Mode::comment;
      return next + 1;  // "<!-->" is a whole comment
    }
    if (next + 1 + agree == n && !final) return INCOMPLETE;
    mode_ = Mode::bogus;
    return next;
  }
  if (c == '?') {
    mode_ = Mode::bogus;
    return next;
  }
  bool start = true;
  std::size_t name = next;
  if (c == '/') {
    if (next + 1 >= n && !final) return INCOMPLETE;
    if (next + 1 >= n || !is_letter(units.at(next + 1))) {
      mode_ = Mode::bogus;
      return next;
    }
    start = false;
    name = next + 1;
  } else if (!is_letter(c)) {
    return next;
  }
  const std::size_t after = tag(units, i, name, start, final, sink);
  if (after != INCOMPLETE || !force) return after;
  // Longer than the rewriting holds: passed as it stands.
  mode_ = Mode::tag;
  tag_state_ = TagState::name;
  skipped_tag_.clear();
  skipped_start_ = start;
  return skip_tag(units, name, sink);
}

// A start or end tag opened at `open`, whose name begins at `i`; returns
// where text goes on, or INCOMPLETE when its ">" is not among the units.
std::size_t HtmlScanner::tag(const UnitView& units, std::size_t open,
                             std::size_t i, bool start, bool final,
                             MarkupSink& sink) {
  const std::size_t n = units.size;
  const std::size_t name_begin = i;
  while (i < n && !is_space(units.at(i)) && units.at(i) != '/' &&
         units.at(i) != '>')
    ++i;
  char tag_buffer[16];
  const std::string_view tag_name = name_of(units, name_begin, i, tag_buffer);
  std::vector<Attribute>& attributes = attributes_;
  attributes.clear();
  bool closed = false;
  i = units.width == 1 ? read_attributes<1>(units, i, attributes, closed)
                       : read_attributes<2>(units, i, attributes, closed);
  if (!closed && !final) return INCOMPLETE;
  const TagKind kind = start ? tag_kind(tag_name) : TagKind::other;
  const bool readable = i + 1 - open <= cap_;
  if (!readable && kind == TagKind::base && !base_seen_) {
    base_seen_ = true;
    sink.unreadable_base();
  }
  if (start && closed) sink.element_opens(tag_name, units.origin + open);
  if (start && readable) {
    sink.tag_begins();
    char buffer[16];
    for (const Attribute& a : attributes) {
      const std::string_view name =
          name_of(units, a.name_begin, a.name_end, buffer);
      const AttributeKind what = attribute_kind(name);
      if (what == AttributeKind::crossorigin) {
        sink.crossorigin(units.origin + a.name_begin,
                         units.origin + a.value_end + (a.quoted ? 1 : 0));
        continue;
      }
      if (!a.has_value) continue;
      if (kind == TagKind::base && name == "href") {
        if (base_seen_) continue;
        base_seen_ = true;
        sink.base(decode_units(units, a.value_begin, a.value_end, true),
                  units.origin + a.value_begin, units.origin + a.value_end,
                  a.quoted);
        continue;
      }
      const bool anchor = tag_name == "a" || tag_name == "area";
      if (what == AttributeKind::link ||
          (anchor && what == AttributeKind::url && name == "href")) {
        if (what == AttributeKind::link && !sink.has_base()) continue;
        const DecodedText value =
            decode_units(units, a.value_begin, a.value_end, true);
        sink.link(value, 0, value.text().size());
        continue;
      }
      switch (what) {
        case AttributeKind::link:
          break;
        case AttributeKind::url: {
          const DecodedText value =
              decode_units(units, a.value_begin, a.value_end, true);
          sink.reference(value, 0, value.text().size(), true);
          break;
        }
        case AttributeKind::srcset:
          srcset(decode_units(units, a.value_begin, a.value_end, true), sink);
          break;
        case AttributeKind::style:
          css_.scan_attribute(
              decode_units(units, a.value_begin, a.value_end, true), sink);
          break;
        case AttributeKind::none:
        case AttributeKind::crossorigin:
          break;
      }
    }
    sink.tag_ends();
  }
  if (start && closed) sink.element_opened(tag_name, units.origin + i + 1);
  if (!closed) return n;
  after_tag(start ? tag_name : std::string_view());
  return i + 1;
}

void HtmlScanner::after_tag(std::string_view name) {
  switch (tag_kind(name)) {
    case TagKind::script:
    case TagKind::raw_text:
      mode_ = Mode::raw_text;
      raw_tag_ = name;
      break;
    case TagKind::style:
      mode_ = Mode::style;
      css_.restart();
      break;
    case TagKind::plaintext:
      mode_ = Mode::plaintext;
      break;
    default:
      mode_ = Mode::text;
      break;
  }
}

// Through a tag too long to be read, from where the last units left it;
// returns where text goes on, or the end.
std::size_t HtmlScanner::skip_tag(const UnitView& units, std::size_t i,
                                  MarkupSink& sink) {
  const std::size_t n = units.size;
  while (i < n) {
    const char32_t c = units.at(i);
    switch (tag_state_) {
      case TagState::name:
        if (is_space(c) || c == '/' || c == '>') {
          tag_state_ = TagState::between;
          if (skipped_tag_.size() > 16) skipped_tag_.clear();
          if (skipped_start_ && skipped_tag_ == "base" && !base_seen_) {
            base_seen_ = true;
            sink.unreadable_base();
          }
        } else {
          const char32_t l = lower(c);
          if (skipped_tag_.size() <= 16)
            skipped_tag_ += l < 0x80 ? static_cast<char>(l) : '\x7F';
          ++i;
        }
        break;
      case TagState::between:
        if (c == '>') {
          after_tag(skipped_start_ ? std::string(skipped_tag_) : std::string());
          return i + 1;
        }
        tag_state_ =
            is_space(c) || c == '/' ? TagState::between : TagState::attribute;
        ++i;
        break;
      case TagState::attribute:
        if (is_space(c) || c == '/' || c == '>' || c == '=')
          tag_state_ = TagState::after_attribute;
        else
          ++i;
        break;
      case TagState::after_attribute:
        if (is_space(c)) {
          ++i;
        } else if (c == '=') {
          ++i;
          tag_state_ = TagState::before_value;
        } else {
          tag_state_ = TagState::between;
        }
        break;
      case TagState::before_value:
        if (is_space(c)) {
          ++i;
        } else if (c == '"' || c == '\'') {
          tag_quote_ = c;
          ++i;
          tag_state_ = TagState::quoted;
        } else {
          tag_state_ = TagState::unquoted;
        }
        break;
      case TagState::quoted: {
        const std::size_t hit = units.find(tag_quote_, i);
        if (hit >= n) return n;
        i = hit + 1;
        tag_state_ = TagState::between;
        break;
      }
      case TagState::unquoted:
        if (is_space(c) || c == '>')
          tag_state_ = TagState::between;
        else
          ++i;
        break;
    }
  }
  return n;
}

// "</name" followed by white space, "/" or ">" ends raw text.
std::size_t HtmlScanner::end_tag(const UnitView& units, std::size_t i,
                                 std::string_view name, bool final,
                                 bool& found) {
  const std::size_t n = units.size;
  found = false;
  while ((i = units.find('<', i)) < n) {
    if (i + 1 < n && units.at(i + 1) == '/') {
      const std::size_t agree = agreeing(units, i + 2, name);
      const std::size_t after = i + 2 + name.size();
      if (agree == name.size()) {
        if (after == n && !final) return i;
        if (after == n || is_space(units.at(after)) || units.at(after) == '/' ||
            units.at(after) == '>') {
          found = true;
          return i;
        }
      } else if (i + 2 + agree == n && !final) {
        return i;
      }
    } else if (i + 1 == n && !final) {
      return i;
    }
    ++i;
  }
  return INCOMPLETE;
}

// CSS from `i`: to the end of the <style> element, or of a style sheet.
std::size_t HtmlScanner::style(const UnitView& units, std::size_t i, bool final,
                               bool force, MarkupSink& sink) {
  const std::size_t n = units.size;
  std::size_t limit = n;
  bool ends = final;
  if (mode_ == Mode::style) {
    bool found = false;
    const std::size_t end = end_tag(units, i, "style", final, found);
    if (end != INCOMPLETE) {
      limit = end;
      ends = final || found;
    }
  }
  // Half a surrogate pair waits for its other half.
  if (!ends && units.width == 2 && limit > i &&
      (units.at(limit - 1) & 0xFC00) == 0xD800)
    --limit;
  const UnitView part{units.data, limit, units.width, units.big_endian,
                      units.origin};
  const DecodedText text = decode_units(part, i, limit, false);
  const std::size_t used = css_.scan(text, ends, force && i == 0, sink);
  if (ends) {
    if (mode_ == Mode::style) mode_ = Mode::text;
    return limit;
  }
  return text.unit(used) - units.origin;
}

// Finding the references of an HTML page that arrives in runs of any size:
// markup is read as a browser tokenises it (tags, attributes, comments, raw
// text) and the scanner resumes where a run ended.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "css_scanner.h"

// The code units of a stretch of the page: bytes, or UTF-16 in either byte
// order. `origin` counts the units of the page before it.
struct UnitView {
  const char* data = nullptr;
  std::size_t size = 0;  // whole units
  std::size_t width = 1;
  bool big_endian = false;
  std::size_t origin = 0;

  [[nodiscard]] char32_t at(std::size_t i) const {
    if (width == 1) return static_cast<unsigned char>(data[i]);
    const auto first = static_cast<unsigned char>(data[2 * i]);
    const auto second = static_cast<unsigned char>(data[2 * i + 1]);
    return big_endian ? (char32_t{first} << 8) | second
                      : (char32_t{second} << 8) | first;
  }
  // The first unit `c` at or after `from`, or size.
  [[nodiscard]] std::size_t find(char32_t c, std::size_t from) const;
};

// What the page's markup asks of the rewriting beyond its references.
class MarkupSink : public ReferenceSink {
 public:
  // The first <base href> of the page: its value (units [begin, end) of
  // the page) and whether it was quoted.
  virtual void base(const DecodedText& value, std::size_t begin,
                    std::size_t end, bool quoted) = 0;
  // A <base> tag too long to be read: nothing after it can be rewritten.
  virtual void unreadable_base() = 0;
  // A reference that only leads elsewhere when followed (<a href>, <area
  // href>, form actions and the like), text()[begin, end) of `text`.
  virtual void link(const DecodedText& text, std::size_t begin,
                    std::size_t end) = 0;
  // Whether references are read against a <base href>.
  [[nodiscard]] virtual bool has_base() const = 0;
  // A start tag's attributes are about to be read; then each crossorigin
  // attribute it holds (units [begin, end) of the page), then its end.
  virtual void tag_begins() = 0;
  // A whole start tag named `name` (lower case) opens at unit `open`, before
  // its attributes are read; once read, it has closed before unit `after`.
  virtual void element_opens(std::string_view name, std::size_t open) = 0;
  virtual void element_opened(std::string_view name, std::size_t after) = 0;
  virtual void crossorigin(std::size_t begin, std::size_t end) = 0;
  virtual void tag_ends() = 0;

 protected:
  MarkupSink() = default;
  MarkupSink(const MarkupSink&) = default;
  MarkupSink& operator=(const MarkupSink&) = default;
  MarkupSink(MarkupSink&&) = default;
  MarkupSink& operator=(MarkupSink&&) = default;
  ~MarkupSink() = default;
};

class HtmlScanner {
 public:
  // A style sheet (`css_only`) is read as CSS from its first byte. A tag,
  // url() or @import longer than `cap` code units is passed as it stands,
  // however the page arrives.
  HtmlScanner(bool css_only, bool backslash_escapes, std::size_t cap)
      : css_(backslash_escapes, cap),
        mode_(css_only ? Mode::css : Mode::text),
        cap_(cap) {}

  // Scans the next units of the page; `final` when they run to its end.
  // Returns how many were consumed; the rest begin a token that needs more
  // units (a tag, a url()) and must be offered again with more after them.
  // `force` consumes such a token as it stands, unread.
  std::size_t scan(const UnitView& units, bool final, bool force,
                   MarkupSink& sink);

 private:
  enum class Mode {
    text,
    comment,    // until "-->"
    bogus,      // until ">"
    raw_text,   // until the end tag of raw_tag_
    style,      // CSS until "</style"
    plaintext,  // to the end
    tag,        // inside a tag too long to be read: until its ">"
    css,        // a style sheet
  };
  // Where a tag too long to be read stands in its attributes.
  enum class TagState {
    name,
    between,
    attribute,
    after_attribute,
    before_value,
    quoted,
    unquoted,
  };

  // A tag's attributes, units of the page.
  struct Attribute {
    std::size_t name_begin;
    std::size_t name_end;
    std::size_t value_begin;
    std::size_t value_end;
    bool has_value;
    bool quoted;
  };

  CssScanner css_;
  Mode mode_;
  std::size_t cap_;
  std::string raw_tag_;  // the element whose raw text is being skipped
  TagState tag_state_ = TagState::name;
  char32_t tag_quote_ = 0;
  std::string skipped_tag_;  // the name of the tag being skipped
  bool skipped_start_ = false;
  bool base_seen_ = false;
  std::vector<Attribute> attributes_;  // kept to spare an allocation a tag

  static constexpr std::size_t INCOMPLETE = static_cast<std::size_t>(-1);
  std::size_t markup(const UnitView& units, std::size_t i, bool final,
                     bool force, MarkupSink& sink);
  std::size_t tag(const UnitView& units, std::size_t open, std::size_t i,
                  bool start, bool final, MarkupSink& sink);
  std::size_t skip_tag(const UnitView& units, std::size_t i, MarkupSink& sink);
  void after_tag(std::string_view name);
  // Where "</name" begins (`found`), or a "<" at the end that may begin
  // it, or INCOMPLETE when there is neither.
  static std::size_t end_tag(const UnitView& units, std::size_t i,
                             std::string_view name, bool final, bool& found);
  std::size_t style(const UnitView& units, std::size_t i, bool final,
                    bool force, MarkupSink& sink);
};

// Units [begin, end) of `units` as bytes: UTF-16 as UTF-8, character
// references decoded when `attribute`.
DecodedText decode_units(const UnitView& units, std::size_t begin,
                         std::size_t end, bool attribute);

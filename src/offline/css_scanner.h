// Finding the references of CSS (url() and @import) in a style sheet that
// arrives in runs of any size: the scanner resumes where a run ended.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A stretch of the page as bytes for the CSS and srcset scanners, with the
// code unit of the page (counted from its start) that each byte came from.
// Bytes of an ASCII-compatible page without character references are the
// page itself.
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
  // The code unit of the page where byte `i` (or the end, i == size) began.
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

// Receives each reference the scanners find: text()[begin, end) of `text`.
class ReferenceSink {
 public:
  virtual void reference(const DecodedText& text, std::size_t begin,
                         std::size_t end, bool in_attribute) = 0;

 protected:
  ReferenceSink() = default;
  ReferenceSink(const ReferenceSink&) = default;
  ReferenceSink& operator=(const ReferenceSink&) = default;
  ReferenceSink(ReferenceSink&&) = default;
  ReferenceSink& operator=(ReferenceSink&&) = default;
  ~ReferenceSink() = default;
};

class CssScanner {
 public:
  // `backslash_escapes` is false in the double-byte charsets whose second
  // bytes include 0x5C. A url() or @import longer than `cap` code units is
  // passed as it stands, however the sheet arrives.
  CssScanner(bool backslash_escapes, std::size_t cap)
      : backslash_escapes_(backslash_escapes), cap_(cap) {}

  // A new style sheet begins.
  void restart();

  // Scans the next bytes of the sheet; `final` when they run to its end.
  // Returns how many were consumed: the rest begin a token that needs more
  // bytes (a url(), an @import, a comment opener, an escape) and must be
  // offered again with more after them. `force` consumes such a token as
  // it stands: a url() or @import longer than the caller holds names no
  // part.
  std::size_t scan(const DecodedText& text, bool final, bool force,
                   ReferenceSink& sink);

  // A whole style attribute.
  void scan_attribute(const DecodedText& text, ReferenceSink& sink);

 private:
  enum class Mode { normal, comment, string, url_start, bare_url };
  Mode mode_ = Mode::normal;
  char quote_ = 0;
  unsigned char last_ = 0;  // the byte before the next one, for "url("
  bool backslash_escapes_;
  std::size_t cap_;
  bool in_attribute_ = false;

  [[nodiscard]] std::size_t skip_string(std::string_view css,
                                        std::size_t i) const;
  static constexpr std::size_t INCOMPLETE = static_cast<std::size_t>(-1);
  // The quoted string at `quote`, which is the reference of the token at
  // `start` (url("...") or @import "..."): the position after it, or
  // INCOMPLETE.
  std::size_t quoted_reference(const DecodedText& text, std::size_t start,
                               std::size_t quote, bool final,
                               ReferenceSink& sink);
  std::size_t url_function(const DecodedText& text, std::size_t start,
                           bool final, ReferenceSink& sink);
  void reference(const DecodedText& text, std::size_t start, std::size_t begin,
                 std::size_t end, std::size_t after, ReferenceSink& sink) const;
  std::size_t import_rule(const DecodedText& text, std::size_t start,
                          bool final, ReferenceSink& sink);
};

#include "css_scanner.h"

#include <algorithm>

namespace {

bool is_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool is_css_name(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '-' || c == '_' || c >= 0x80;
}

unsigned char lower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

// How many bytes at `i` agree with `word` (lower case) in any case.
std::size_t agreeing(std::string_view text, std::size_t i,
                     std::string_view word) {
  std::size_t k = 0;
  while (k < word.size() && i + k < text.size() &&
         lower(static_cast<unsigned char>(text[i + k])) ==
             static_cast<unsigned char>(word[k]))
    ++k;
  return k;
}

}  // namespace

void CssScanner::restart() {
  mode_ = Mode::normal;
  quote_ = 0;
  last_ = 0;
}

void CssScanner::scan_attribute(const DecodedText& text, ReferenceSink& sink) {
  const std::string_view css = text.text();
  // Most style attributes hold no function and no at-rule at all.
  if (css.find('(') == std::string_view::npos &&
      css.find('@') == std::string_view::npos)
    return;
  restart();
  in_attribute_ = true;
  scan(text, true, false, sink);
  in_attribute_ = false;
  restart();
}

// From an opening quote at `i` to just past its closing quote (or the line
// end that breaks the string, or the end).
std::size_t CssScanner::skip_string(std::string_view css, std::size_t i) const {
  const char quote = css[i];
  for (++i; i < css.size(); ++i) {
    const char c = css[i];
    if (c == quote) return i + 1;
    if (c == '\n' || c == '\r' || c == '\f') return i;
    if (c == '\\' && backslash_escapes_) ++i;
  }
  return css.size();
}

// The reference in [begin, end) of a token from `start` to `after`, unless
// the token is longer than the cap.
void CssScanner::reference(const DecodedText& text, std::size_t start,
                           std::size_t begin, std::size_t end,
                           std::size_t after, ReferenceSink& sink) const {
  if (text.unit(after) - text.unit(start) <= cap_)
    sink.reference(text, begin, end, in_attribute_);
}

// "url(" at `start`: the reference, and where scanning goes on; INCOMPLETE
// when the token runs past the bytes at hand.
std::size_t CssScanner::url_function(const DecodedText& text, std::size_t start,
                                     bool final, ReferenceSink& sink) {
  const std::string_view css = text.text();
  std::size_t i = start + 4;
  while (i < css.size() && is_space(static_cast<unsigned char>(css[i]))) ++i;
  if (i >= css.size()) return final ? css.size() : INCOMPLETE;
  if (css[i] == '"' || css[i] == '\'')
    return quoted_reference(text, start, i, final, sink);
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
  if (i >= css.size() && !final) return INCOMPLETE;
  if (good && i < css.size() && css[i] == ')')
    reference(text, start, begin, end, i + 1, sink);
  return std::min(i, css.size());
}

// "@import" at `start`.
std::size_t CssScanner::import_rule(const DecodedText& text, std::size_t start,
                                    bool final, ReferenceSink& sink) {
  const std::string_view css = text.text();
  std::size_t i = start + 7;
  while (i < css.size() && is_space(static_cast<unsigned char>(css[i]))) ++i;
  if (i >= css.size()) return final ? css.size() : INCOMPLETE;
  if (css[i] != '"' && css[i] != '\'') return i;
  return quoted_reference(text, start, i, final, sink);
}

std::size_t CssScanner::quoted_reference(const DecodedText& text,
                                         std::size_t start, std::size_t quote,
                                         bool final, ReferenceSink& sink) {
  const std::string_view css = text.text();
  const std::size_t end = skip_string(css, quote);
  const bool closed =
      end > quote + 1 && end <= css.size() && css[end - 1] == css[quote];
  if (!closed && end >= css.size() && !final) return INCOMPLETE;
  const std::string_view inner = css.substr(quote + 1, end - quote - 2);
  if (closed &&
      (!backslash_escapes_ || inner.find('\\') == std::string_view::npos))
    reference(text, start, quote + 1, end - 1, end, sink);
  return std::min(end, css.size());
}

std::size_t CssScanner::scan(const DecodedText& text, bool final, bool force,
                             ReferenceSink& sink) {
  const std::string_view css = text.text();
  const std::size_t size = css.size();
  std::size_t i = 0;
  // Where a token that needs more bytes begins: everything before it is
  // done.
  const auto hold = [&](std::size_t at) {
    if (at > 0) last_ = static_cast<unsigned char>(css[at - 1]);
    return at;
  };
  while (i < size) {
    switch (mode_) {
      case Mode::comment: {
        const std::size_t close = css.find("*/", i);
        if (close == std::string_view::npos) {
          if (final) return hold(size);
          // A "*" at the end may begin the "*/".
          return hold(std::max(i, size - 1));
        }
        i = close + 2;
        mode_ = Mode::normal;
        break;
      }
      case Mode::string:
      case Mode::bare_url:
        // A string ends at its quote (taken) or a line end, a bare url()
        // at ")" or a blank (both left for the normal scan); a backslash
        // takes the byte after it along.
        for (; i < size; ++i) {
          const char c = css[i];
          if (mode_ == Mode::string ? c == quote_ : c == ')') {
            if (mode_ == Mode::string) ++i;
            mode_ = Mode::normal;
            break;
          }
          if (mode_ == Mode::string ? c == '\n' || c == '\r' || c == '\f'
                                    : is_space(static_cast<unsigned char>(c))) {
            mode_ = Mode::normal;
            break;
          }
          if (c == '\\' && backslash_escapes_) {
            if (i + 1 == size && !final) return hold(i);
            ++i;
          }
        }
        break;
      case Mode::url_start:
        while (i < size && is_space(static_cast<unsigned char>(css[i]))) ++i;
        if (i < size)
          mode_ =
              css[i] == '"' || css[i] == '\'' ? Mode::normal : Mode::bare_url;
        break;
      case Mode::normal: {
        const char c = css[i];
        const unsigned char before =
            i > 0 ? static_cast<unsigned char>(css[i - 1]) : last_;
        if (c == '/') {
          if (i + 1 == size && !final) return hold(i);
          if (i + 1 < size && css[i + 1] == '*') {
            mode_ = Mode::comment;
            i += 2;
          } else {
            ++i;
          }
        } else if (c == '"' || c == '\'') {
          mode_ = Mode::string;
          quote_ = c;
          ++i;
        } else if (c == '\\' && backslash_escapes_) {
          if (i + 1 == size && !final) return hold(i);
          i += 2;
        } else if ((c == 'u' || c == 'U') && !is_css_name(before)) {
          const std::size_t agree = agreeing(css, i, "url(");
          if (agree < 4 && i + agree == size && !final) return hold(i);
          if (agree < 4) {
            ++i;
            continue;
          }
          const std::size_t next = url_function(text, i, final, sink);
          if (next != INCOMPLETE) {
            i = next;
          } else if (force && i == 0) {
            i += 4;
            mode_ = Mode::url_start;
          } else {
            return hold(i);
          }
        } else if (c == '@') {
          const std::size_t agree = agreeing(css, i + 1, "import");
          if (i + 1 + agree == size && !final) return hold(i);
          if (agree < 6 ||
              (i + 7 < size &&
               is_css_name(static_cast<unsigned char>(css[i + 7])))) {
            ++i;
            continue;
          }
          const std::size_t next = import_rule(text, i, final, sink);
          if (next != INCOMPLETE) {
            i = next;
          } else if (force && i == 0) {
            i += 7;
          } else {
            return hold(i);
          }
        } else {
          ++i;
        }
        break;
      }
    }
  }
  return hold(std::min(i, size));
}

#include "reference_rewriter.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "html_scanner.h"
#include "page_charset.h"
#include "path_transcoder.h"
#include "url.h"

namespace {

// Bytes read before the charset is decided: a <meta> counts only there.
constexpr std::size_t CHARSET_PREFIX = 1024;
// Bytes scanned at a time straight from a run, which bounds the edits held.
constexpr std::size_t SLICE = std::size_t{1} << 20;
// Held bytes are scanned again only once they have doubled, so that a token
// arriving in many small runs costs linear time.
constexpr std::size_t MIN_SCAN = 4096;
// A base longer than this is not read: written out absolute in front of
// every reference, it would make the page grow with its square.
constexpr std::size_t BASE_CAP = 2048;

struct Edit {
  std::size_t begin;  // code units of the page
  std::size_t end;
  std::string text;     // ASCII
  bool expand = false;  // text is INLINE_MARK and a key for the expander
};

bool safe_byte(unsigned char c) {
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

// The replacement with every byte escaped that would end the attribute,
// the srcset candidate or the CSS token.
std::string safe(std::string_view replacement, bool in_attribute) {
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

}  // namespace

class ReferenceRewriter::Core final : public MarkupSink {
 public:
  Core(PartSyntax syntax, std::string_view charset, ReferenceResolver resolve)
      : syntax_(syntax), label_(charset), resolve_(std::move(resolve)) {}

  void feed(std::string_view run, const ByteSink& write) {
    if (passthrough_) {
      if (!run.empty()) write(run);
      return;
    }
    if (!started_) {
      const std::size_t take =
          std::min(run.size(), CHARSET_PREFIX - prefix_.size());
      prefix_.append(run.substr(0, take));
      run.remove_prefix(take);
      if (prefix_.size() < CHARSET_PREFIX) return;
      start(write);
      if (passthrough_) {
        if (!run.empty()) write(run);
        return;
      }
    }
    process(run, write);
  }

  void finish(const ByteSink& write) {
    if (!started_) start(write);
    if (passthrough_) return;
    scan_held(true, write);
    if (!held_.empty()) write(held_);  // half a UTF-16 unit
    held_.clear();
    if (report_.status != RewriteStatus::unsupported_charset)
      report_.status =
          edited_ ? RewriteStatus::rewritten : RewriteStatus::unchanged;
  }

  [[nodiscard]] const RewriteReport& report() const { return report_; }

  void expand_with(ReplacementExpander expand) { expand_ = std::move(expand); }
  void insert_first_in_head(std::string markup) {
    head_markup_ = std::move(markup);
  }

  void element_opens(std::string_view name, std::size_t open) override {
    if (head_markup_.empty() || name == "html" || name == "head") return;
    insert(open);
  }

  void element_opened(std::string_view name, std::size_t after) override {
    if (!head_markup_.empty() && name == "head") insert(after);
  }

  void insert(std::size_t at) {
    edits_.push_back({at, at, std::move(head_markup_), false});
    head_markup_.clear();
    edited_ = true;
  }
  void resolve_links_with(ReferenceResolver resolve) {
    resolve_links_ = std::move(resolve);
  }

  void reference(const DecodedText& decoded, std::size_t begin, std::size_t end,
                 bool in_attribute) override {
    replace(decoded, begin, end, in_attribute, resolve_, true);
  }

  // The reference in text()[begin, end) with the page's own non-ASCII
  // bytes before any "?" in UTF-8; false when it holds none (or they are no
  // characters of the page's charset). A character reference's bytes are
  // UTF-8 already: a page byte is the one of its own unit.
  bool path_in_utf8(const DecodedText& decoded, std::size_t begin,
                    std::size_t end, std::string& path) {
    const std::string_view text = decoded.text();
    const std::string_view before_query =
        text.substr(begin, text.substr(begin, end - begin).find('?'));
    if (std::all_of(before_query.begin(), before_query.end(), [](char c) {
          return static_cast<unsigned char>(c) < 0x80;
        }))
      return false;
    bool changed = false;
    std::size_t i = begin;
    for (; i < end && text[i] != '?';) {
      std::size_t run = i;
      while (run < end && static_cast<unsigned char>(text[run]) >= 0x80 &&
             decoded.unit(run + 1) == decoded.unit(run) + 1)
        ++run;
      if (run == i) {
        path += text[i++];
        continue;
      }
      if (!transcoder_->append_utf8(path, text.substr(i, run - i)))
        return false;
      changed = true;
      i = run;
    }
    path.append(text.substr(i, end - i));
    return changed;
  }

  void link(const DecodedText& text, std::size_t begin,
            std::size_t end) override {
    replace(text, begin, end, true, resolve_links_ ? resolve_links_ : resolve_);
  }

  // `as_requested`: the resolver is asked what a browser asks for (see
  // path_in_utf8); the edit still spans the page's own units.
  void replace(const DecodedText& decoded, std::size_t begin, std::size_t end,
               bool in_attribute, const ReferenceResolver& resolve,
               bool as_requested = false) {
    if (frozen_) return;
    const std::string_view text = decoded.text();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
      ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
      --end;
    const std::size_t hash = text.substr(begin, end - begin).find('#');
    if (hash != std::string_view::npos) end = begin + hash;
    if (begin == end || !decoded.ok()) return;
    std::string path;
    std::optional<std::string> replacement =
        as_requested && transcoder_ && path_in_utf8(decoded, begin, end, path)
            ? resolve(path, base_)
            : resolve(text.substr(begin, end - begin), base_);
    if (!replacement) return;
    if (expand_ && replacement->starts_with(INLINE_MARK)) {
      edits_.push_back({decoded.unit(begin), decoded.unit(end),
                        std::move(*replacement), true});
    } else {
      edits_.push_back({decoded.unit(begin), decoded.unit(end),
                        safe(*replacement, in_attribute), false});
    }
    edited_ = true;
    ++report_.references;
    if (!has_scheme(*replacement)) ++tag_files_;
  }

  void base(const DecodedText& value, std::size_t begin, std::size_t end,
            bool quoted) override {
    if (frozen_) return;
    if (!value.ok() || value.text().size() > BASE_CAP) {
      frozen_ = true;
      return;
    }
    report_.base = value.text();
    if (value.text().empty()) return;
    base_ = value.text();
    edits_.push_back({begin, end, quoted ? std::string() : "\"\"", false});
    edited_ = true;
    report_.base_cleared = true;
  }

  void unreadable_base() override { frozen_ = true; }

  [[nodiscard]] bool has_base() const override { return !base_.empty(); }

  void tag_begins() override {
    tag_edits_ = edits_.size();
    tag_files_ = 0;
    crossorigins_.clear();
  }

  void crossorigin(std::size_t begin, std::size_t end) override {
    crossorigins_.emplace_back(begin, end);
  }

  void tag_ends() override {
    if (tag_files_ == 0) return;
    for (const auto& [begin, end] : crossorigins_) {
      const auto at = std::upper_bound(
          edits_.begin() + static_cast<std::ptrdiff_t>(tag_edits_),
          edits_.end(), begin,
          [](std::size_t unit, const Edit& edit) { return unit < edit.begin; });
      edits_.insert(at, Edit{begin, end, std::string(), false});
    }
  }

 private:
  PartSyntax syntax_;
  std::string label_;
  ReferenceResolver resolve_;
  ReferenceResolver resolve_links_;
  ReplacementExpander expand_;
  std::string head_markup_;  // still to be inserted
  RewriteReport report_;

  std::string prefix_;  // the first bytes, until the charset is known
  bool started_ = false;
  bool passthrough_ = false;
  std::size_t width_ = 1;
  bool big_endian_ = false;
  std::unique_ptr<HtmlScanner> scanner_;
  // Set for a page read as bytes in a charset other than UTF-8.
  std::unique_ptr<PathTranscoder> transcoder_;

  std::string held_;  // bytes the scanner has not consumed yet
  std::size_t next_scan_at_ = MIN_SCAN;
  std::size_t origin_ = 0;  // units written
  std::vector<Edit> edits_;
  bool edited_ = false;

  std::string base_;
  bool frozen_ = false;  // a base that can't be read: nothing more changes
  std::size_t tag_edits_ = 0;
  std::size_t tag_files_ = 0;
  std::vector<std::pair<std::size_t, std::size_t>> crossorigins_;

  void start(const ByteSink& write) {
    started_ = true;
    const PageCharset page =
        detect_page_charset(prefix_, label_, syntax_ == PartSyntax::html);
    report_.charset = page.name;
    bool escapes = true;
    switch (page.encoding) {
      case PageEncoding::bytes:
        escapes = !page.backslash_is_text;
        transcoder_ = std::make_unique<PathTranscoder>(page.name);
        if (!transcoder_->active()) transcoder_.reset();
        break;
      case PageEncoding::utf16le:
        width_ = 2;
        break;
      case PageEncoding::utf16be:
        width_ = 2;
        big_endian_ = true;
        break;
      case PageEncoding::unsupported:
        passthrough_ = true;
        report_.status = RewriteStatus::unsupported_charset;
        if (!prefix_.empty()) write(prefix_);
        prefix_.clear();
        return;
    }
    scanner_ = std::make_unique<HtmlScanner>(
        syntax_ == PartSyntax::css, escapes, REWRITE_TOKEN_CAP / width_);
    std::string prefix = std::move(prefix_);
    process(prefix, write);
  }

  void process(std::string_view run, const ByteSink& write) {
    while (!run.empty()) {
      if (held_.empty()) {
        const std::string_view piece = run.substr(0, SLICE);
        run.remove_prefix(piece.size());
        std::size_t used = scan(piece, false, false, write);
        while (piece.size() - used > REWRITE_TOKEN_CAP) {
          const std::size_t forced =
              scan(piece.substr(used), false, true, write);
          if (forced == 0) break;
          used += forced;
        }
        held_.assign(piece.substr(used));
        next_scan_at_ = std::max(2 * held_.size(), MIN_SCAN);
        continue;
      }
      const std::size_t room =
          next_scan_at_ > held_.size() ? next_scan_at_ - held_.size() : 0;
      const std::size_t take = std::min(run.size(), room);
      held_.append(run.substr(0, take));
      run.remove_prefix(take);
      if (held_.size() >= next_scan_at_) scan_held(false, write);
    }
  }

  void scan_held(bool final, const ByteSink& write) {
    const std::string_view held(held_);
    std::size_t used = scan(held, final, false, write);
    while (!final && held.size() - used > REWRITE_TOKEN_CAP) {
      const std::size_t forced = scan(held.substr(used), false, true, write);
      if (forced == 0) break;
      used += forced;
    }
    held_.erase(0, used);
    next_scan_at_ = std::max(2 * held_.size(), MIN_SCAN);
  }

  // Scans whole units of `bytes`, writes what they settle; returns the
  // bytes consumed.
  std::size_t scan(std::string_view bytes, bool final, bool force,
                   const ByteSink& write) {
    const UnitView units{bytes.data(), bytes.size() / width_, width_,
                         big_endian_, origin_};
    const std::size_t used = scanner_->scan(units, final, force, *this);
    emit(bytes, used, write);
    return used * width_;
  }

  void emit(std::string_view bytes, std::size_t units, const ByteSink& write) {
    std::size_t done = 0;  // bytes
    std::string wide;
    for (const Edit& edit : edits_) {
      const std::size_t begin = (edit.begin - origin_) * width_;
      if (begin > done) write(bytes.substr(done, begin - done));
      if (edit.expand) {
        expand(edit.text, write);
      } else if (width_ == 1) {
        if (!edit.text.empty()) write(edit.text);
      } else {
        wide.clear();
        for (const char c : edit.text) {
          if (big_endian_) wide += '\0';
          wide += c;
          if (!big_endian_) wide += '\0';
        }
        if (!wide.empty()) write(wide);
      }
      done = (edit.end - origin_) * width_;
    }
    const std::size_t end = units * width_;
    if (end > done) write(bytes.substr(done, end - done));
    edits_.clear();
    origin_ += units;
  }

  // An inlined replacement, in the page's code units.
  void expand(std::string_view marked, const ByteSink& write) {
    const std::string_view key = marked.substr(1);
    if (width_ == 1) {
      expand_(key, write);
      return;
    }
    std::string wide;
    expand_(key, [&](std::string_view bytes) {
      wide.clear();
      for (const char c : bytes) {
        if (big_endian_) wide += '\0';
        wide += c;
        if (!big_endian_) wide += '\0';
      }
      write(wide);
    });
  }
};

void ReferenceRewriter::expand_with(ReplacementExpander expand) {
  core_->expand_with(std::move(expand));
}

void ReferenceRewriter::insert_first_in_head(std::string markup) {
  core_->insert_first_in_head(std::move(markup));
}

void ReferenceRewriter::resolve_links_with(ReferenceResolver resolve) {
  core_->resolve_links_with(std::move(resolve));
}

ReferenceRewriter::ReferenceRewriter(PartSyntax syntax,
                                     std::string_view charset,
                                     ReferenceResolver resolve)
    : core_(std::make_unique<Core>(syntax, charset, std::move(resolve))) {}
ReferenceRewriter::ReferenceRewriter(ReferenceRewriter&&) noexcept = default;
ReferenceRewriter& ReferenceRewriter::operator=(ReferenceRewriter&&) noexcept =
    default;
ReferenceRewriter::~ReferenceRewriter() = default;

void ReferenceRewriter::feed(std::string_view decoded, const ByteSink& write) {
  core_->feed(decoded, write);
}

void ReferenceRewriter::finish(const ByteSink& write) { core_->finish(write); }

const RewriteReport& ReferenceRewriter::report() const {
  return core_->report();
}

RewriteReport rewrite_references(std::string_view part, PartSyntax syntax,
                                 std::string_view charset,
                                 const ReferenceResolver& resolve,
                                 const ByteSink& write) {
  ReferenceRewriter rewriter(syntax, charset, resolve);
  rewriter.feed(part, write);
  rewriter.finish(write);
  return rewriter.report();
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

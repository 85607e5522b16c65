// Pointing the references of an HTML or CSS part at other files, changing
// nothing else in it: no re-serialisation, every other byte stays.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

enum class PartSyntax { html, css };

// Asked once per reference: the reference as the page means it (character
// references decoded, surrounding white space and the "#fragment" removed;
// UTF-8 where the page is UTF-8 or UTF-16 or a character reference stood,
// and in the path (before any "?") of a reference of a page in another
// charset it names, as a browser asks for it; the page's own bytes
// otherwise) and the <base href> in effect at that
// point (decoded, empty when none; the page no longer holds it, so a
// relative reference that names no part must be answered as the absolute
// URL it meant). Returns the text that replaces the
// reference, or nothing to leave it as it is. The fragment is kept after
// the replacement. Bytes of the replacement that would end the attribute,
// the srcset candidate or the CSS token are percent-encoded; the caller
// gives an encoded relative path (encode_url_path), so that never happens.
using ReferenceResolver = std::function<std::optional<std::string>(
    std::string_view reference, std::string_view base)>;

enum class RewriteStatus {
  unchanged,            // no reference was replaced
  rewritten,            // at least one reference was replaced
  unsupported_charset,  // the part's charset could not be read safely
};

struct RewriteReport {
  RewriteStatus status = RewriteStatus::unchanged;
  std::size_t references = 0;  // references replaced
  // The first <base href> of an HTML part, decoded; empty when none or
  // when it cannot be decoded.
  std::string base;
  // The <base href> was emptied (to mean the page's own file).
  bool base_cleared = false;
  // The charset the page was read in as its label or <meta> named it
  // (empty for a byte order mark or none): for the note on an unsupported
  // one.
  std::string charset;
};

// Receives the rewritten part in pieces, in order.
using ByteSink = std::function<void(std::string_view bytes)>;

// A replacement too large to return as text (a whole part inlined): the
// resolver returns INLINE_MARK and a key, and the rewriter has the
// expander write the replacement at its place, in pieces. What the
// expander writes is written as it stands: it must not end the attribute,
// the srcset candidate or the CSS token.
inline constexpr char INLINE_MARK = '\0';
using ReplacementExpander =
    std::function<void(std::string_view key, const ByteSink& write)>;

// One token the rewriting holds whole before it knows what it says (a tag
// with its attributes, a url(), an @import): a longer one is passed as it
// stands and names no part. Pages stream through in constant memory.
inline constexpr std::size_t REWRITE_TOKEN_CAP = std::size_t{1} << 20;

// The page's charset is read from its byte order mark, else `charset` (the
// Content-Type parameter, may be empty), else a <meta> in its first 1,024
// bytes, as browsers do: ASCII-compatible charsets as bytes, UTF-16 in
// 16-bit units (and rewritten in them), any other left as it is. In HTML:
// src, href, xlink:href, srcset and imagesrcset candidates, poster, data,
// background, the lazy-loading data-src, data-srcset, data-lazy-src and
// data-original, style attributes and <style> contents; in CSS: url() and
// @import. Comments, <script> and other raw text are left alone.
//
// A page with a <base href> has the base emptied where it stands, so that
// the written files are read against the page's own file; references after
// it are resolved against the old base (the resolver writes those that name
// no part as absolute URLs), and link-only attributes (action, formaction,
// cite, longdesc, manifest, codebase, icon, profile) are read there too. A
// base this reader cannot decode (an unknown character reference, or one
// longer than 2,048 bytes) stays, and nothing after it is rewritten. An
// element whose reference now names a written file loses its crossorigin
// attribute: a file on disk answers no cross-origin request.
class ReferenceRewriter {
 public:
  ReferenceRewriter(PartSyntax syntax, std::string_view charset,
                    ReferenceResolver resolve);
  ReferenceRewriter(const ReferenceRewriter&) = delete;
  ReferenceRewriter& operator=(const ReferenceRewriter&) = delete;
  ReferenceRewriter(ReferenceRewriter&& other) noexcept;
  ReferenceRewriter& operator=(ReferenceRewriter&& other) noexcept;
  ~ReferenceRewriter();

  // Replacements marked with INLINE_MARK are written by `expand`.
  void expand_with(ReplacementExpander expand);
  // Links (<a href> and the attributes read only against a base) are
  // answered by `resolve` instead of the resolver the rewriter was made
  // with.
  void resolve_links_with(ReferenceResolver resolve);

  // An HTML page gets `markup` first in its <head>: right after the <head>
  // tag, or where the first element that is neither <html> nor <head>
  // begins (a browser's head then holds it).
  void insert_first_in_head(std::string markup);

  // Page bytes in runs of any size; `write` receives the rewritten page in
  // pieces, in order, as soon as they are known.
  void feed(std::string_view decoded, const ByteSink& write);
  // The page has ended: the rest is written.
  void finish(const ByteSink& write);
  // Valid after finish.
  [[nodiscard]] const RewriteReport& report() const;

 private:
  class Core;
  std::unique_ptr<Core> core_;
};

// The whole of `part` through a ReferenceRewriter: `write` receives the
// whole file to write. Only the replaced spans are new; the rest are pieces
// of `part`, never copied, where no token spans two of its blocks.
RewriteReport rewrite_references(std::string_view part, PartSyntax syntax,
                                 std::string_view charset,
                                 const ReferenceResolver& resolve,
                                 const ByteSink& write);

// The same into `output`, which is left empty unless a reference was
// replaced.
RewriteReport rewrite_references(std::string_view part, PartSyntax syntax,
                                 std::string_view charset,
                                 const ReferenceResolver& resolve,
                                 std::string& output);

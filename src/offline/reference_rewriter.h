// Pointing the references of an HTML or CSS part at other files, changing
// nothing else in it: no re-serialisation, every other byte stays.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

enum class PartSyntax { html, css };

// Asked once per reference: the reference as the page means it (character
// references decoded, surrounding white space and the "#fragment" removed;
// UTF-8 where the page is UTF-8 or UTF-16 or a character reference stood,
// the page's own bytes otherwise) and the <base href> in effect at that
// point (decoded, empty when none). Returns the text that replaces the
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
  // The first <base href> of an HTML part, decoded; empty when none.
  std::string base;
  // A <base href> is emptied (to mean the page's own file) when any
  // reference of the page was replaced, before or after it: a browser reads
  // every relative path against the base, and one on disk must not be
  // resolved against the site the page came from.
  bool base_cleared = false;
};

// Receives the rewritten part in pieces, in order.
using ByteSink = std::function<void(std::string_view bytes)>;

// Reads `part` in the charset that its byte order mark or `charset` (the
// Content-Type parameter, may be empty) names: ASCII-compatible charsets as
// bytes, UTF-16 in 16-bit units (and rewritten in them). In HTML: src,
// href, xlink:href, srcset and imagesrcset candidates, poster, data,
// background, style attributes and <style> contents; in CSS: url() and
// @import. Comments, <script> and other raw text are left alone. `write`
// receives the whole file to write: the part with its references replaced,
// or the part as it is when none was (or its charset is unsupported). Only
// the replaced spans are new; the rest are pieces of `part`, never copied.
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

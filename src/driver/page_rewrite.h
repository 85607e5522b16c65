// --offline's part of the pipeline: the decoded bytes of an HTML or CSS part
// pass through the reference rewriter on their way to the part's file (or
// to the count --offline -l lists).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mime_archive.h"
#include "offline_links.h"
#include "reference_rewriter.h"
#include "stream_decoder.h"
#include "text.h"

// A DecodeSink that rewrites what it is given into `out`.
class RewritingSink final : public DecodeSink {
 public:
  RewritingSink(PartSyntax syntax, std::string_view charset,
                ReferenceResolver resolve, DecodeSink& out);
  RewritingSink(const RewritingSink&) = delete;
  RewritingSink& operator=(const RewritingSink&) = delete;
  ~RewritingSink() = default;
  void put(const char* bytes, std::size_t count) override;
  // The page has ended: what the rewriter still holds goes out.
  void finish();
  void expand_with(ReplacementExpander expand) {
    rewriter_.expand_with(std::move(expand));
  }
  void resolve_links_with(ReferenceResolver resolve) {
    rewriter_.resolve_links_with(std::move(resolve));
  }
  void insert_first_in_head(std::string markup) {
    rewriter_.insert_first_in_head(std::move(markup));
  }
  [[nodiscard]] const RewriteReport& report() const {
    return rewriter_.report();
  }

 private:
  // The rewriter hands its output in many small pieces (the spans between
  // references); they are gathered so that the file gets large writes.
  void gather(std::string_view bytes);
  void flush();

  ReferenceRewriter rewriter_;
  DecodeSink& out_;
  Text gathered_;
  ByteSink write_;
};

// --no-network: the policy a written page carries so that it loads only
// the data: URIs it holds (single file) or, beside them, local files.
inline constexpr std::string_view SINGLE_FILE_POLICY =
    "<meta http-equiv=\"Content-Security-Policy\" "
    "content=\"default-src data: 'unsafe-inline'\">";
inline constexpr std::string_view OFFLINE_POLICY =
    "<meta http-equiv=\"Content-Security-Policy\" "
    "content=\"default-src 'self' file: data: 'unsafe-inline'\">";

// Which parts of an archive --offline rewrites, and how.
class OfflinePages {
 public:
  // `archive` and `names` (names[i]: the file of leaf i) must outlive it.
  OfflinePages(const MimeArchive& archive,
               const std::vector<std::string>& names);

  // Starts `sink` in front of `out` when part `index` is a page whose
  // references are rewritten; false otherwise.
  bool start(std::size_t index, DecodeSink& out,
             std::optional<RewritingSink>& sink);

  // Pages get OFFLINE_POLICY first in their <head>.
  void block_network() { block_network_ = true; }

  // The archive's main page; npos when there is none.
  [[nodiscard]] std::size_t main_page() const { return links_.main_page(); }

 private:
  const MimeArchive& archive_;
  OfflineLinks links_;
  bool block_network_ = false;
};

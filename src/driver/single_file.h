// --single-file: an archive's main page as one HTML file, every part it
// refers to written inline as a data: URI, streamed from the archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base64_decoder.h"
#include "decode_table.h"
#include "mime_source.h"
#include "offline_links.h"
#include "reference_rewriter.h"
#include "stream_decoder.h"
#include "text.h"

// The file the single page of `archive_path` is written to: its stem and
// ".html" ("report.mht" gives "report.html").
std::string single_file_name(std::string_view archive_path);

class SingleFile {
 public:
  // `source` (its names made) and `base64` (the table base64 bodies decode
  // with) must outlive it. Stylesheets and frames are rewritten into
  // unnamed files beneath the open directory `scratch`.
  SingleFile(const MimeSource& source, const Base64Decoder& base64,
             int scratch);

  // The part written as the page; npos when the archive has none.
  [[nodiscard]] std::size_t main_page() const { return links_.main_page(); }

  // --no-network: pages (the main one and frames) get SINGLE_FILE_POLICY.
  void block_network() { block_network_ = true; }

  // Writes the page into `out`. Constant memory whatever the parts' sizes.
  RewriteReport write(DecodeSink& out);

  struct Inlined {
    std::size_t part;
    std::uint64_t size;  // decoded bytes
  };
  // Each part inlined, once, in the order first inlined.
  [[nodiscard]] const std::vector<Inlined>& inlined() const { return inlined_; }

 private:
  const MimeSource& source_;
  const Base64Decoder& base64_;
  OfflineLinks links_;
  int scratch_;
  bool block_network_ = false;
  std::vector<Inlined> inlined_;
  std::vector<bool> seen_;
  // The pages and stylesheets being rewritten, each inside the one before:
  // a reference to one of them is a cycle and stays.
  std::vector<bool> active_;
  std::size_t depth_ = 0;
  bool cycle_noted_ = false;
  // Each reference repeats its part, so a small archive could ask for a
  // file of terabytes: parts are inlined while their encoded bodies add up
  // to at most this, then references stay as they are.
  std::uint64_t inline_budget_ = 0;
  bool budget_noted_ = false;
  // Bytes read back from the archive, one block for each page or
  // stylesheet being rewritten and one for the part being inlined.
  std::vector<Text> blocks_;
  // What the references of each part being rewritten are read against: its
  // own location, or, where it has none a reference can be read against
  // (a browser saves a <style> element as a stylesheet at a cid: URL), the
  // page that uses it, with the <base href> that page's references last
  // had.
  struct ReadAgainst {
    std::size_t part = 0;
    std::string base;
  };
  std::vector<ReadAgainst> read_against_;

  // A rewriting of part `index` (HTML or CSS) into `out`.
  RewriteReport rewrite(std::size_t index, PartSyntax syntax, DecodeSink& out);
  // Part `index`'s decoded body into `sink`, read through `block`.
  void decode_part(std::size_t index, Text& block, DecodeSink& sink);
  // Part `index` as a data: URI, into `write`.
  void write_data_uri(std::size_t index, const ByteSink& write);
  // Part `index` rewritten into an unnamed file, then encoded into `out`.
  void encode_rewritten(std::size_t index, PartSyntax syntax, DecodeSink& out);
};

// Writes the single file of `source` beneath the open directory `root`
// (shown as the prefix `shown_root`), says "Zapis souboru" and names it as
// the main page; `table` is the run's, already chosen. `no_network`:
// --no-network.
void write_single_file(const MimeSource& source, DecodeTable& table, int root,
                       const std::string& shown_root, bool no_network);

// --single-file=-: the single file on standard output, nothing else said.
void put_single_file(const MimeSource& source, DecodeTable& table, int scratch,
                     bool no_network);

// -l: each part the single file would hold inline, then the file itself;
// `scratch` as for SingleFile.
void list_single_file(const MimeSource& source, DecodeTable& table,
                      int scratch);

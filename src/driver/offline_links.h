// --offline: which file holds the part that a reference of a page names,
// and the path that leads there from the page's own file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "mime_archive.h"
#include "url.h"

class OfflineLinks {
 public:
  // `names[i]` is the file written for `archive.leaves[i]`; both must
  // outlive the links.
  OfflineLinks(const MimeArchive& archive,
               const std::vector<std::string>& names);

  // The encoded relative path from the file of part `from` to the file of
  // the part that `reference` names, read against `base` (the page's
  // <base href>, may be empty) and the part's own location; nothing when
  // the archive holds no such part.
  std::optional<std::string> resolve(std::size_t from,
                                     std::string_view reference,
                                     std::string_view base);

  // The archive's main page: the part that the multipart/related "start"
  // names, else the first text/html part; npos when there is none.
  [[nodiscard]] std::size_t main_page() const { return main_page_; }

 private:
  const std::vector<std::string>& names_;
  std::vector<UrlReference> locations_;  // absolute where they can be
  std::unordered_map<std::string, std::size_t> parts_;  // url_key -> part
  std::size_t main_page_;

  // Pages repeat their references: answers are kept for one page and base.
  std::size_t cached_from_ = static_cast<std::size_t>(-1);
  std::string cached_base_;
  UrlReference base_url_;
  std::unordered_map<std::string, std::optional<std::string>> cache_;

  std::optional<std::string> lookup(std::size_t from,
                                    std::string_view reference) const;
};

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

// What OfflineLinks keeps of the answers it has given, at most.
constexpr std::size_t RESOLVE_CACHE_BYTES = std::size_t{4} << 20;

// The archive's main page: the part that the multipart/related "start"
// names, else the first text/html part; npos when there is none.
std::size_t find_main_page(const MimeArchive& archive);

class OfflineLinks {
 public:
  // `names[i]` is the file written for `archive.leaves[i]`; both must
  // outlive the links.
  OfflineLinks(const MimeArchive& archive,
               const std::vector<std::string>& names);

  // The encoded relative path from the file of part `from` to the file of
  // the part that `reference` names, read against `base` (the page's
  // <base href>, may be empty) and the part's own location; a part whose
  // location can't serve (a stylesheet at a cid: URL, as a browser saves a
  // <style>) reads against the page that named it first, and its base. When the
  // archive holds no such part: under a base, a relative reference comes
  // back as the absolute URL it names (the page loses its base); nothing
  // otherwise. Costs the length of the reference, not of the base.
  std::optional<std::string> resolve(std::size_t from,
                                     std::string_view reference,
                                     std::string_view base);

  // Parts are answered as INLINE_MARK and the part's number, for the
  // single file, rather than as paths.
  void answer_with_parts(bool on) { inline_parts_ = on; }

  // A link of the single file: under a base (which the page loses), a
  // relative reference as the absolute URL it names; nothing otherwise.
  [[nodiscard]] std::optional<std::string> absolute_link(
      std::size_t from, std::string_view reference,
      std::string_view base) const;

  // The archive's main page: the part that the multipart/related "start"
  // names, else the first text/html part; npos when there is none.
  [[nodiscard]] std::size_t main_page() const { return main_page_; }

  // Whether part `part`'s location is one a relative reference can be read
  // against (a scheme and an authority, as http: and file: have; cid: has
  // none).
  [[nodiscard]] bool is_base(std::size_t part) const {
    return locations_[part].is_absolute() && locations_[part].has_authority;
  }

 private:
  const std::vector<std::string>& names_;
  std::vector<UrlReference> locations_;  // absolute where they can be
  std::unordered_map<std::string, std::size_t> parts_;  // url_key -> part
  std::size_t main_page_;
  bool inline_parts_ = false;

  // Hierarchical keys as a tree of directories, so that a relative
  // reference is looked up from its base's directory in the time of its
  // own length: "origin" -> root directory, directory + segment -> child,
  // directory + last segment and query -> part.
  std::unordered_map<std::string, std::size_t> roots_;
  std::unordered_map<std::string, std::size_t> children_;
  std::unordered_map<std::string, std::size_t> files_;
  std::size_t directories_ = 0;

  // readers_[i]: the first page (and its base) that named part i, where
  // part i's own location can't be read against.
  struct Reader {
    std::size_t page = static_cast<std::size_t>(-1);
    std::string base;
  };
  std::vector<Reader> readers_;

  // Pages repeat their references: answers are kept for one page and base.
  std::size_t cached_from_ = static_cast<std::size_t>(-1);
  std::size_t cached_against_ = static_cast<std::size_t>(-1);
  std::string cached_base_;
  UrlReference base_url_;
  // The directories of the base's path from its root (NONE past the last
  // one the tree holds), and its last segment.
  std::vector<std::size_t> base_directories_;
  std::string base_file_;
  bool base_in_tree_ = false;
  // Answers for the references met since the base last changed, up to
  // RESOLVE_CACHE_BYTES: a page of a million distinct references is then
  // resolved again rather than remembered whole.
  std::unordered_map<std::string, std::optional<std::string>> cache_;
  std::size_t cache_bytes_ = 0;

  void index(const UrlReference& location, std::size_t part);
  void walk_base();
  [[nodiscard]] std::size_t find_part(const UrlReference& reference) const;
  std::optional<std::string> lookup(std::size_t from,
                                    std::string_view reference);
};

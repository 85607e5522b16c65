#include "offline_links.h"

#include <algorithm>
#include <array>

#include "offline_path.h"
#include "url.h"

namespace {

constexpr std::size_t NONE = static_cast<std::size_t>(-1);

bool is_letter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A Windows path ("C:\dir\page.htm", "C:/dir/page.htm") as the file URL it
// stands for; any other text as it is.
std::string location_as_url(std::string_view location) {
  if (location.size() >= 3 && is_letter(location[0]) && location[1] == ':' &&
      (location[2] == '\\' || location[2] == '/')) {
    std::string url = "file:///";
    url.append(location);
    return url;
  }
  return std::string(location);
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The part's location made absolute against the enclosing one.
UrlReference absolute_location(const MimeLeaf& leaf) {
  const std::string location = location_as_url(trimmed(leaf.location));
  const std::string enclosing = location_as_url(trimmed(leaf.base_location));
  const UrlReference base = parse_reference(enclosing, {});
  UrlReference url = parse_reference(location, base.scheme);
  if (!url.is_absolute() && base.is_absolute()) url = resolve_url(base, url);
  return url;
}

std::size_t find_main_page(const MimeArchive& archive) {
  std::string_view start = trimmed(archive.start);
  if (start.starts_with('<') && start.ends_with('>') && start.size() >= 2)
    start = trimmed(start.substr(1, start.size() - 2));
  if (!start.empty()) {
    for (std::size_t i = 0; i < archive.leaves.size(); ++i)
      if (trimmed(archive.leaves[i].content_id) == start) return i;
  }
  for (std::size_t i = 0; i < archive.leaves.size(); ++i)
    if (archive.leaves[i].content_type == "text/html") return i;
  return NONE;
}

}  // namespace

OfflineLinks::OfflineLinks(const MimeArchive& archive,
                           const std::vector<std::string>& names)
    : names_(names), main_page_(find_main_page(archive)) {
  locations_.reserve(archive.leaves.size());
  for (std::size_t i = 0; i < archive.leaves.size(); ++i) {
    const MimeLeaf& leaf = archive.leaves[i];
    locations_.push_back(absolute_location(leaf));
    // The first part of a location or an ID is the one a browser shows.
    if (!trimmed(leaf.location).empty())
      parts_.try_emplace(url_key(locations_.back()), i);
    const std::string_view id = trimmed(leaf.content_id);
    if (!id.empty()) parts_.try_emplace("cid:" + std::string(id), i);
  }
}

std::optional<std::string> OfflineLinks::resolve(std::size_t from,
                                                 std::string_view reference,
                                                 std::string_view base) {
  // Inline data is never a part, and may be megabytes long.
  if (reference.size() > 5 &&
      std::equal(reference.begin(), reference.begin() + 5,
                 "data:", [](char a, char b) { return (a | 0x20) == b; }))
    return std::nullopt;
  if (from != cached_from_ || base != cached_base_) {
    cached_from_ = from;
    cached_base_ = base;
    cache_.clear();
    base_url_ = locations_[from];
    if (!base.empty()) {
      const UrlReference href = parse_reference(base, base_url_.scheme);
      base_url_ = resolve_url(base_url_, href);
    }
  }
  const auto cached = cache_.find(std::string(reference));
  if (cached != cache_.end()) return cached->second;
  std::optional<std::string> path = lookup(from, reference);
  cache_.emplace(reference, path);
  return path;
}

std::optional<std::string> OfflineLinks::lookup(
    std::size_t from, std::string_view reference) const {
  const UrlReference url =
      resolve_url(base_url_, parse_reference(reference, base_url_.scheme));
  const auto found = parts_.find(url_key(url));
  if (found == parts_.end()) return std::nullopt;
  return encode_url_path(relative_path(names_[from], names_[found->second]));
}

#include "offline_links.h"

#include <algorithm>
#include <array>

#include "offline_path.h"
#include "reference_rewriter.h"
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

}  // namespace

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

OfflineLinks::OfflineLinks(const MimeArchive& archive,
                           const std::vector<std::string>& names)
    : names_(names), main_page_(find_main_page(archive)) {
  locations_.reserve(archive.leaves.size());
  readers_.resize(archive.leaves.size());
  for (std::size_t i = 0; i < archive.leaves.size(); ++i) {
    const MimeLeaf& leaf = archive.leaves[i];
    locations_.push_back(absolute_location(leaf));
    // The first part of a location or an ID is the one a browser shows.
    if (!trimmed(leaf.location).empty()) {
      parts_.try_emplace(url_key(locations_.back()), i);
      index(locations_.back(), i);
    }
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
                 "data:", [](char a, char b) {
                   return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b;
                 }))
    return std::nullopt;
  std::size_t against = from;
  if (!is_base(from) && readers_[from].page != NONE) {
    against = readers_[from].page;
    if (base.empty()) base = readers_[from].base;
  }
  if (from != cached_from_ || against != cached_against_ ||
      base != cached_base_) {
    cached_from_ = from;
    cached_against_ = against;
    cached_base_ = base;
    cache_.clear();
    cache_bytes_ = 0;
    base_url_ = locations_[against];
    if (!base.empty()) {
      const UrlReference href = parse_reference(base, base_url_.scheme);
      base_url_ = resolve_url(base_url_, href);
    }
    walk_base();
  }
  const auto cached = cache_.find(std::string(reference));
  if (cached != cache_.end()) return cached->second;
  std::optional<std::string> path = lookup(from, reference);
  // Each entry also costs its node: about 64 bytes beside its texts.
  const std::size_t cost = 64 + reference.size() + (path ? path->size() : 0);
  if (cache_bytes_ + cost > RESOLVE_CACHE_BYTES) {
    cache_.clear();
    cache_bytes_ = 0;
  }
  if (cost <= RESOLVE_CACHE_BYTES) {
    cache_.emplace(reference, path);
    cache_bytes_ += cost;
  }
  return path;
}

namespace {

// A tree key: a directory's number, then a name.
std::string tree_key(std::size_t directory, std::string_view name) {
  std::string key(reinterpret_cast<const char*>(&directory), sizeof directory);
  return key.append(name);
}

}  // namespace

void OfflineLinks::index(const UrlReference& location, std::size_t part) {
  const UrlKeyParts key = url_key_parts(location);
  if (!key.path.starts_with('/')) return;
  std::size_t directory =
      roots_.try_emplace(key.origin, directories_).first->second;
  if (directory == directories_) ++directories_;
  std::string_view path = std::string_view(key.path).substr(1);
  // Grown once, not rehashed level by level under a deep location.
  children_.reserve(children_.size() + static_cast<std::size_t>(std::count(
                                           path.begin(), path.end(), '/')));
  for (std::size_t slash; (slash = path.find('/')) != std::string_view::npos;
       path.remove_prefix(slash + 1)) {
    const auto child = children_.try_emplace(
        tree_key(directory, path.substr(0, slash)), directories_);
    if (child.second) ++directories_;
    directory = child.first->second;
  }
  files_.try_emplace(tree_key(directory, std::string(path) + key.query), part);
}

// The base's directories, walked once per base.
void OfflineLinks::walk_base() {
  base_directories_.clear();
  base_file_.clear();
  base_in_tree_ = false;
  if (!base_url_.is_absolute() || base_url_.scheme == "cid") return;
  const UrlKeyParts key = url_key_parts(base_url_);
  if (!key.path.starts_with('/')) return;
  base_in_tree_ = true;
  const auto root = roots_.find(key.origin);
  std::size_t directory = root == roots_.end() ? NONE : root->second;
  base_directories_.push_back(directory);
  std::string_view path = std::string_view(key.path).substr(1);
  for (std::size_t slash; (slash = path.find('/')) != std::string_view::npos;
       path.remove_prefix(slash + 1)) {
    if (directory != NONE) {
      const auto child =
          children_.find(tree_key(directory, path.substr(0, slash)));
      directory = child == children_.end() ? NONE : child->second;
    }
    base_directories_.push_back(directory);
  }
  base_file_ = path;
}

// The part a reference with neither scheme nor authority names under a
// base in the tree: its segments walk from the base's directory (dot
// segments as RFC 3986 removes them), never through the base's path.
std::size_t OfflineLinks::find_part(const UrlReference& reference) const {
  std::string query;
  if (reference.has_query)
    query.append("?").append(normal_url_component(reference.query));
  if (reference.path.empty()) {
    const std::size_t directory = base_directories_.back();
    if (directory == NONE) return NONE;
    const auto hit = files_.find(tree_key(directory, base_file_ + query));
    return hit == files_.end() ? NONE : hit->second;
  }
  const std::string path = normal_url_component(reference.path);
  std::size_t depth = path.starts_with('/') ? 0 : base_directories_.size() - 1;
  std::vector<std::string_view> below;  // directories past the base's
  std::string_view rest(path);
  if (rest.starts_with('/')) rest.remove_prefix(1);
  std::string_view file;
  while (true) {
    const std::size_t slash = rest.find('/');
    const std::string_view segment = rest.substr(0, slash);
    const bool last = slash == std::string_view::npos;
    if (segment == "." || segment == "..") {
      if (segment == "..") {
        if (!below.empty())
          below.pop_back();
        else if (depth > 0)
          --depth;
      }
    } else if (last) {
      file = segment;
    } else {
      below.push_back(segment);
    }
    if (last) break;
    rest.remove_prefix(slash + 1);
  }
  std::size_t directory = base_directories_[depth];
  for (const std::string_view name : below) {
    if (directory == NONE) return NONE;
    const auto child = children_.find(tree_key(directory, name));
    directory = child == children_.end() ? NONE : child->second;
  }
  if (directory == NONE) return NONE;
  const auto hit = files_.find(tree_key(directory, std::string(file) + query));
  return hit == files_.end() ? NONE : hit->second;
}

std::optional<std::string> OfflineLinks::lookup(std::size_t from,
                                                std::string_view reference) {
  const UrlReference parsed = parse_reference(reference, base_url_.scheme);
  std::size_t part = NONE;
  if (!parsed.is_absolute() && !parsed.has_authority && base_in_tree_) {
    part = find_part(parsed);
  } else {
    const auto found = parts_.find(url_key(resolve_url(base_url_, parsed)));
    if (found != parts_.end()) part = found->second;
  }
  if (part != NONE && readers_[part].page == NONE && !is_base(part) &&
      is_base(from))
    readers_[part] = Reader{from, cached_base_};
  if (part != NONE && inline_parts_) {
    std::string key(1, INLINE_MARK);
    key.append(std::to_string(part));
    return key;
  }
  if (part != NONE)
    return encode_url_path(relative_path(names_[from], names_[part]));
  // The page is written without its base: what it named stays named.
  if (cached_base_.empty() || parsed.is_absolute() || !base_url_.is_absolute())
    return std::nullopt;
  UrlReference target = resolve_url(base_url_, parsed);
  target.has_fragment = false;
  return recompose_url(target);
}

std::optional<std::string> OfflineLinks::absolute_link(
    std::size_t from, std::string_view reference, std::string_view base) const {
  if (base.empty()) return std::nullopt;
  const UrlReference& page = locations_[from];
  const UrlReference base_url =
      resolve_url(page, parse_reference(base, page.scheme));
  const UrlReference parsed = parse_reference(reference, base_url.scheme);
  if (parsed.is_absolute() || !base_url.is_absolute()) return std::nullopt;
  UrlReference target = resolve_url(base_url, parsed);
  target.has_fragment = false;
  return recompose_url(target);
}

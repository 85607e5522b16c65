#include "type_filter.h"

#include <algorithm>

#include "ascii.h"

namespace {

std::string lowered(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = lower_byte(c);
  return lower;
}

}  // namespace

std::optional<TypeFilter> TypeFilter::parse(std::string_view list) {
  TypeFilter filter;
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view item = trim(list.substr(0, comma));
    const std::size_t slash = item.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view type = trim(item.substr(0, slash));
    const std::string_view subtype = trim(item.substr(slash + 1));
    if (type.empty() || subtype.empty() ||
        subtype.find('/') != std::string_view::npos)
      return std::nullopt;
    filter.patterns_.push_back({lowered(type), lowered(subtype)});
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return filter;
}

bool TypeFilter::keeps(std::string_view content_type) const {
  if (content_type.empty()) content_type = "text/plain";
  // A type without its subtype is matched by "*/*" alone.
  const std::size_t slash = content_type.find('/');
  const bool whole = slash != std::string_view::npos;
  const std::string_view type = content_type.substr(0, slash);
  const std::string_view subtype =
      whole ? content_type.substr(slash + 1) : std::string_view();
  return std::ranges::any_of(patterns_, [&](const Pattern& pattern) {
    const bool any_type = pattern.type == "*";
    const bool any_subtype = pattern.subtype == "*";
    if (!whole && !(any_type && any_subtype)) return false;
    return (any_type || pattern.type == type) &&
           (any_subtype || pattern.subtype == subtype);
  });
}

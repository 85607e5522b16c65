#include "offline_path.h"

#include <cstddef>
#include <vector>

namespace {

std::vector<std::string_view> segments(std::string_view path) {
  std::vector<std::string_view> result;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view segment = path.substr(0, slash);
    if (!segment.empty() && segment != ".") result.push_back(segment);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return result;
}

}  // namespace

std::string relative_path(std::string_view from_file,
                          std::string_view to_file) {
  std::vector<std::string_view> from = segments(from_file);
  const std::vector<std::string_view> to = segments(to_file);
  if (!from.empty()) from.pop_back();  // the referring file's directory
  std::size_t common = 0;
  // The target's last segment is its file name, never a directory to share.
  while (common < from.size() && common + 1 < to.size() &&
         from[common] == to[common])
    ++common;
  std::string result;
  for (std::size_t i = common; i < from.size(); ++i) result += "../";
  for (std::size_t i = common; i < to.size(); ++i) {
    result += to[i];
    if (i + 1 < to.size()) result += '/';
  }
  return result;
}

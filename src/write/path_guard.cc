#include "path_guard.h"

#include "messages.h"

bool is_safe_part_path(std::string_view path) {
  if (path.empty()) return true;
  if (path.front() == '/') return false;
  if (path.find('\0') != std::string_view::npos) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string_view component = path.substr(
        start, slash == std::string_view::npos ? slash : slash - start);
    if (component == "..") return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

void check_part_path(std::string_view path) {
  // Refused, never repaired: the archive is wrong, not the user.
  if (!is_safe_part_path(path)) fail_unsafe_path(path);
}

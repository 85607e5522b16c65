#include "archive_stem.h"

std::string_view archive_stem(std::string_view archive_path) {
  if (archive_path == "-") return "stdin";
  const std::string_view file =
      archive_path.substr(archive_path.rfind('/') + 1);
  const std::size_t dot = file.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return file;
  const std::string_view stem = file.substr(0, dot);
  if (stem.find_first_not_of('.') == std::string_view::npos) return file;
  return stem;
}

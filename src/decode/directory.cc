#include "directory.h"

#include <filesystem>
#include <system_error>

#include "messages.h"

int make_directory(const std::string& dir) {
  if (dir.empty()) return 0;
  // Made here rather than by a command interpreter, so that names from an
  // archive are only ever names.
  const NoMemoryScope scope(NoMemoryMessage::directory);
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(dir), ignored);
  return 0;
}

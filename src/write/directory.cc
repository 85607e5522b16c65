#include "directory.h"

#include "messages.h"
#include "output_dir.h"

int make_directory(const std::string& dir) {
  // Made here rather than by a command interpreter, so that names from an
  // archive are only ever names; and never through a link that leads out.
  const NoMemoryScope scope(NoMemoryMessage::directory);
  const DirectoryFd root = open_output_root(".");
  reach_directory(root.get(), dir, true);
  return 0;
}

#include "archive_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "messages.h"
#include "stream_copy.h"

namespace {

// A descriptor of standard input of its own, so that closing it with the
// archive leaves descriptor 0 open (and no later open takes its number).
int standard_input() { return ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3); }

// Standard input, when it is a regular file that stands at its start: its
// offsets are the archive's, so it is read in place, without a copy.
bool readable_in_place(int fd) {
  struct stat status {};
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_WRONLY &&
         ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
         ::lseek(fd, 0, SEEK_CUR) == 0;
}

}  // namespace

bool is_standard_input(std::string_view argument) { return argument == "-"; }

ArchiveReader open_archive_argument(std::string_view argument, int root) {
  if (!is_standard_input(argument)) return open_archive(argument);
  ArchiveReader reader = read_archive_header(standard_input(), argument);
  reader.spill_dir = root;
  return reader;
}

FileDescriptor open_archive_file(std::string_view argument, int root,
                                 std::string_view directory) {
  if (!is_standard_input(argument))
    return open_regular_file(std::string(argument));
  FileDescriptor input(standard_input());
  if (input.get() < 0 || readable_in_place(input.get())) return input;
  const StreamCopy copy = copy_to_unnamed_file(input.get(), root);
  if (copy.failure == CopyFailure::read) fail_standard_input_read();
  if (copy.fd < 0) fail_standard_input_copy(directory);
  return FileDescriptor(copy.fd);
}

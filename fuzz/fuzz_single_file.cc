// --single-file's whole path: any archive's main page, its stylesheets and
// frames rewritten through unnamed files and every part inlined, written as
// one file into a scratch directory with links planted in it (with the
// network policy for every other input). Nothing beside the scratch
// directory may change, and the page is the only file left in it.
#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base64_table.h"
#include "decode_table.h"
#include "fuzz_support.h"
#include "mime_source.h"
#include "output_dir.h"
#include "single_file.h"

namespace {

// Entries of the work directory that the run made: only the page may be.
void check_only_the_page() {
  DIR* dir = ::opendir(".");
  if (dir == nullptr) fuzz_fail("cannot read the work directory");
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (entry->d_type == DT_REG && name != "archive.html")
      fuzz_fail("a file other than the page");
  }
  ::closedir(dir);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_setup();
  scratch_setup();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  scratch_write_archive(data, size);
  scratch_unpack(
      [&] {
        MimeSource source(scratch_archive());
        DecodeTable table;
        table.use(base64table_of(RFC2045_ALPHABET));
        source.read_as_rfc2045(true);
        const DirectoryFd root = open_output_root(".");
        write_single_file(source, table, root.get(), {}, size % 2 == 1);
      },
      check_only_the_page);
  return 0;
}

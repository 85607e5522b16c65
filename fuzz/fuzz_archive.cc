// A whole archive: header, parts, decoding and writing the files. Each input
// is written to a file beside a scratch directory that serves as the current
// directory, and the scratch directory is emptied after every input. Links
// planted in the scratch directory lead beside it, to a directory whose
// contents must never change, and inside it, where they may be followed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "archive_reader.h"
#include "base64_table.h"
#include "decode_table.h"
#include "extract.h"
#include "fuzz_support.h"
#include "office_source.h"
#include "output_dir.h"

namespace {

DecodeTable standard_table;

// RFC 2045 in base64.conf form, loaded once as the program would load it.
void load_standard_table() {
  std::string conf;
  for (std::size_t value = 1; value < RFC2045_ALPHABET.size(); ++value)
    conf += std::to_string(value) + " " + RFC2045_ALPHABET[value] + "\n";
  Base64table table;
  parse_base64conf(conf, table);
  standard_table.use(table);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_setup();
  scratch_setup();
  load_standard_table();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  scratch_write_archive(data, size);
  // Nothing may be made or changed beside the work directory.
  scratch_unpack([&] {
    OfficeSource source(open_archive(scratch_archive()));
    const DirectoryFd root = open_output_root(".");
    extract_parts(source, standard_table, root.get());
  });
  return 0;
}

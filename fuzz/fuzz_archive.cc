// A whole archive: header, parts, decoding and writing the files. Each input
// is written to a file beside a scratch directory that serves as the current
// directory, and the scratch directory is emptied after every input.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "archive_reader.h"
#include "base64_table.h"
#include "extract.h"
#include "fuzz_support.h"
#include "part_decoder.h"

namespace fs = std::filesystem;

namespace {

fs::path root;          // holds only the archive and the work directory
fs::path archive_path;  // root / "archive.mht"
fs::path work;          // root / "work", the current directory while
                        // an input runs
fs::path home;          // the fuzzer's own current directory

void remove_root() {
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

// RFC 2045 in base64.conf form, loaded once as the program would load it.
void load_standard_table() {
  std::string conf;
  for (std::size_t value = 1; value < RFC2045_ALPHABET.size(); ++value)
    conf += std::to_string(value) + " " + RFC2045_ALPHABET[value] + "\n";
  Base64table table;
  parse_base64conf(conf, table);
  set_base64table(table);
}

}  // namespace

// A smaller quarantine than ASan's 256 MB: every input frees a few
// allocations, and a quarantine that never recycles them makes each input
// fault in fresh pages (five times slower).
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=16";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_setup();
  // tmpfs where there is one: every input makes and removes files.
  std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  pattern += "/mimeunpack-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fuzz_fail("mkdtemp");
  root = pattern;
  archive_path = root / "archive.mht";
  work = root / "work";
  fs::create_directory(work);
  home = fs::current_path();
  std::atexit(remove_root);
  load_standard_table();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  {
    std::FILE* file = std::fopen(archive_path.c_str(), "wb");
    if (file == nullptr) fuzz_fail("cannot write the archive");
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
      fuzz_fail("cannot write the archive");
    std::fclose(file);
  }
  // Only while the input runs: libFuzzer resolves its own relative paths
  // (corpus, artifacts) in its own directory.
  fs::current_path(work);
  try {
    ArchiveReader reader = open_archive(archive_path.native());
    extract_parts(reader);
  } catch (const FuzzFatal&) {
    // A documented fatal condition: the program would print and exit here.
  }
  // Nothing may have been made beside the work directory.
  std::size_t entries = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
    (void)entry;
    ++entries;
  }
  if (entries != 2) fuzz_fail("a part was written outside the directory");
  if (fs::current_path() != work) fuzz_fail("the current directory changed");
  fs::current_path(home);
  for (const fs::directory_entry& entry : fs::directory_iterator(work))
    fs::remove_all(entry.path());
  return 0;
}

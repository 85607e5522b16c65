// A whole archive: header, parts, decoding and writing the files. Each input
// is written to a file beside a scratch directory that serves as the current
// directory, and the scratch directory is emptied after every input. Links
// planted in the scratch directory lead beside it, to a directory whose
// contents must never change, and inside it, where they may be followed.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "archive_reader.h"
#include "base64_table.h"
#include "extract.h"
#include "fuzz_support.h"
#include "part_decoder.h"

namespace fs = std::filesystem;

namespace {

fs::path root;          // holds the archive, the work directory, outside
fs::path archive_path;  // root / "archive.mht"
fs::path work;          // root / "work", the current directory while
                        // an input runs
fs::path home;          // the fuzzer's own current directory
fs::path outside;       // root / "outside": a canary file and a directory

constexpr std::string_view CANARY = "nothing may change this\n";

// Links every input meets in the scratch directory, by name and target:
// absolute and relative ones out of it, dangling ones out of it, one that
// stays inside, and one where a part's file may be named.
void plant_links() {
  fs::create_directory(work / "inner");
  fs::create_directory_symlink(outside, work / "o");
  fs::create_directory_symlink("..", work / "u");
  fs::create_symlink("../ghost", work / "g");
  fs::create_symlink(root / "ghost", work / "a");
  fs::create_directory_symlink("inner", work / "i");
  fs::create_symlink(outside / "canary", work / "f");
}

// Beside the scratch directory only the archive, and the canary as it was.
void check_outside() {
  std::size_t entries = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
    (void)entry;
    ++entries;
  }
  if (entries != 3) fuzz_fail("a part was written outside the directory");
  entries = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(outside)) {
    (void)entry;
    ++entries;
  }
  if (entries != 2 || !fs::is_empty(outside / "dir"))
    fuzz_fail("a part was written through a link");
  std::FILE* file = std::fopen((outside / "canary").c_str(), "rb");
  if (file == nullptr) fuzz_fail("the canary is gone");
  char bytes[64];
  const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
  std::fclose(file);
  if (std::string_view(bytes, got) != CANARY)
    fuzz_fail("a part was written through a link to a file");
}

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
  outside = root / "outside";
  fs::create_directories(outside / "dir");
  {
    std::FILE* file = std::fopen((outside / "canary").c_str(), "wb");
    if (file == nullptr) fuzz_fail("cannot write the canary");
    std::fwrite(CANARY.data(), 1, CANARY.size(), file);
    std::fclose(file);
  }
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
  plant_links();
  // Only while the input runs: libFuzzer resolves its own relative paths
  // (corpus, artifacts) in its own directory.
  fs::current_path(work);
  try {
    ArchiveReader reader = open_archive(archive_path.native());
    extract_parts(reader);
  } catch (const FuzzFatal&) {
    // A documented fatal condition: the program would print and exit here.
  }
  // Nothing may have been made or changed beside the work directory.
  check_outside();
  if (fs::current_path() != work) fuzz_fail("the current directory changed");
  fs::current_path(home);
  for (const fs::directory_entry& entry : fs::directory_iterator(work))
    fs::remove_all(entry.path());
  return 0;
}

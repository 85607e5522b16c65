#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "messages.h"

namespace {

[[noreturn]] void throw_fatal(int status, std::string_view message) {
  throw FuzzFatal{status, std::string(message)};
}

namespace fs = std::filesystem;

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

}  // namespace

void fuzz_setup() {
  set_fatal_handler(throw_fatal);
  // libFuzzer reports on standard error; the tool's progress lines would
  // only slow it down.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

void fuzz_fail(std::string_view what) {
  std::fprintf(stderr, "fuzz property failed: %.*s\n",
               static_cast<int>(what.size()), what.data());
  std::abort();
}

void scratch_setup() {
  std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  pattern += "/mimeunpack-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fuzz_fail("mkdtemp");
  root = pattern;
  archive_path = root / "archive.mht";
  work = root / "work";
  fs::create_directory(work);
  outside = root / "outside";
  fs::create_directories(outside / "dir");
  std::FILE* file = std::fopen((outside / "canary").c_str(), "wb");
  if (file == nullptr) fuzz_fail("cannot write the canary");
  std::fwrite(CANARY.data(), 1, CANARY.size(), file);
  std::fclose(file);
  home = fs::current_path();
  std::atexit(remove_root);
}

const std::string& scratch_archive() { return archive_path.native(); }

void scratch_write_archive(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(archive_path.c_str(), "wb");
  if (file == nullptr) fuzz_fail("cannot write the archive");
  if (size > 0 && std::fwrite(data, 1, size, file) != size)
    fuzz_fail("cannot write the archive");
  std::fclose(file);
}

void scratch_enter() {
  plant_links();
  // Only while the input runs: libFuzzer resolves its own relative paths
  // (corpus, artifacts) in its own directory.
  fs::current_path(work);
}

void scratch_leave() {
  check_outside();
  if (fs::current_path() != work) fuzz_fail("the current directory changed");
  fs::current_path(home);
  for (const fs::directory_entry& entry : fs::directory_iterator(work))
    fs::remove_all(entry.path());
}

void scratch_unpack(const std::function<void()>& unpack,
                    const std::function<void()>& check) {
  scratch_enter();
  try {
    unpack();
  } catch (const FuzzFatal&) {
    // A documented fatal condition: the program would print and exit here.
  }
  if (check) check();
  scratch_leave();
}

// A smaller quarantine than ASan's 256 MB for the targets that write
// files: every input frees a few allocations, and a quarantine that never
// recycles them makes each input fault in fresh pages (five times slower).
extern "C" const char* __asan_default_options() {
  return "quarantine_size_mb=16";
}

#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "messages.h"

namespace {

[[noreturn]] void throw_fatal(int status, std::string_view message) {
  throw FuzzFatal{status, std::string(message)};
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

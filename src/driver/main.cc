#include <cstdio>
#include <new>
#include <string_view>

#include "any_layout.h"
#include "extract.h"
#include "messages.h"

namespace {

// Until the option parser lands: "--any-layout" or "-a" first unpacks the
// other arguments with any_layout, with the default mode's progress lines.
int run_any_layout(int argc, char** argv) {
  if (argc < 3) fail_no_argument();
  for (int i = 2; i < argc; ++i) {
    say("argc: ");
    say_number(argc - i);
    say(", argv[1]: ");
    say(argv[i]);
    say("\n");
    extract_any_layout(argv[i]);
  }
  return STATUS_OK;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string_view first = argc > 1 ? argv[1] : "";
    const int status = first == "--any-layout" || first == "-a"
                           ? run_any_layout(argc, argv)
                           : run(argc, argv);
    std::fflush(stdout);
    return status;
  } catch (const std::bad_alloc&) {
    fail_no_memory();
  }
}

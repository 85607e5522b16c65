#include <new>
#include <string_view>

#include "any_layout.h"
#include "extract.h"
#include "messages.h"

namespace {

// Until the option parser lands: "--any-layout" or "-a" first unpacks the
// other arguments with any_layout, with the default mode's progress lines;
// "--offline" does the same with offline on.
int run_any_layout(int argc, char** argv, const AnyLayoutOptions& options) {
  if (argc < 3) fail_no_argument();
  for (int i = 2; i < argc; ++i) {
    say_progress(argc - i, argv[i]);
    extract_any_layout(argv[i], options);
  }
  return STATUS_OK;
}

}  // namespace

int main(int argc, char** argv) {
  catch_allocation_failures();
  try {
    const std::string_view first = argc > 1 ? argv[1] : "";
    const int status = first == "--any-layout" || first == "-a"
                           ? run_any_layout(argc, argv, {})
                       : first == "--offline"
                           ? run_any_layout(argc, argv, {.offline = true})
                           : run(argc, argv);
    flush_output();
    return status;
  } catch (const std::bad_alloc&) {
    // The new handler sees every failed operator new; this catches what a
    // container refuses before asking (a size beyond what it can hold).
    fail_no_memory();
  }
}

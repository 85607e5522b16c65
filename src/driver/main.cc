#include <new>

#include "extract.h"
#include "messages.h"

int main(int argc, char** argv) {
  catch_allocation_failures();
  try {
    const int status = run(argc, argv);
    // Progress and messages that never reached standard output are a
    // failed write like any other.
    if (!flush_output()) fail_output_lost();
    return status;
  } catch (const std::bad_alloc&) {
    // The new handler sees every failed operator new; this catches what a
    // container refuses before asking (a size beyond what it can hold).
    fail_no_memory();
  }
}

#include <new>

#include "extract.h"
#include "messages.h"

int main(int argc, char** argv) {
  catch_allocation_failures();
  try {
    const int status = run(argc, argv);
    flush_output();
    return status;
  } catch (const std::bad_alloc&) {
    // The new handler sees every failed operator new; this catches what a
    // container refuses before asking (a size beyond what it can hold).
    fail_no_memory();
  }
}

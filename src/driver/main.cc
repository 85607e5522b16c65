#include <cstdio>
#include <new>

#include "extract.h"
#include "messages.h"

int main(int argc, char** argv) {
  try {
    const int status = run(argc, argv);
    std::fflush(stdout);
    return status;
  } catch (const std::bad_alloc&) {
    fail_no_memory();
  }
}

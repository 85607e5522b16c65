#include <cstdio>
#include <new>

#include "extract.h"
#include "messages.h"

int main(int argc, char** argv) {
  try {
    const int status = run(argc, argv);
    // Progress and messages that never reached standard output (a full
    // disk, /dev/full) are a failed write like any other.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) fail_output_lost();
    return status;
  } catch (const std::bad_alloc&) {
    fail_no_memory();
  }
}

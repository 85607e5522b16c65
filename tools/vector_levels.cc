// Prints the vector levels this processor offers, one name a line, the best
// last: what MIMEUNPACK_VECTOR_LEVEL can really switch between here.
#include <cstdio>
#include <initializer_list>

#include "vector_level.h"

int main() {
  for (const VectorLevel level :
       {VectorLevel::scalar, VectorLevel::avx2, VectorLevel::avx512})
    if (cpu_supports(level)) std::printf("%s\n", vector_level_name(level));
  return 0;
}

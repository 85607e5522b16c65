#include "vector_level.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr VectorLevel LEVELS[] = {VectorLevel::scalar, VectorLevel::avx2,
                                  VectorLevel::avx512};

bool offers(VectorLevel level) {
#if defined(__x86_64__) || defined(__i386__)
  switch (level) {
    case VectorLevel::scalar:
      return true;
    case VectorLevel::avx2:
      return __builtin_cpu_supports("avx2");
    case VectorLevel::avx512:
      return __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vbmi") &&
             __builtin_cpu_supports("avx512vbmi2");
  }
  return false;
#else
  return level == VectorLevel::scalar;
#endif
}

}  // namespace

bool cpu_supports(VectorLevel level) {
  static const bool avx2 = offers(VectorLevel::avx2);
  static const bool avx512 = offers(VectorLevel::avx512);
  switch (level) {
    case VectorLevel::scalar:
      return true;
    case VectorLevel::avx2:
      return avx2;
    case VectorLevel::avx512:
      return avx512;
  }
  return false;
}

VectorLevel best_vector_level() {
  return cpu_supports(VectorLevel::avx512) ? VectorLevel::avx512
         : cpu_supports(VectorLevel::avx2) ? VectorLevel::avx2
                                           : VectorLevel::scalar;
}

VectorLevel choose_vector_level(const char* forced) {
  if (forced != nullptr)
    for (const VectorLevel level : LEVELS)
      if (std::strcmp(forced, vector_level_name(level)) == 0 &&
          cpu_supports(level))
        return level;
  return best_vector_level();
}

VectorLevel vector_level() {
  static const VectorLevel level =
      choose_vector_level(std::getenv("MIMEUNPACK_VECTOR_LEVEL"));
  return level;
}

const char* vector_level_name(VectorLevel level) {
  switch (level) {
    case VectorLevel::scalar:
      return "scalar";
    case VectorLevel::avx2:
      return "avx2";
    case VectorLevel::avx512:
      return "avx512";
  }
  return "scalar";
}

// Which vector instructions the processor offers, asked once per process.
// Every vector path has a scalar reference and is picked at run time.
#pragma once

enum class VectorLevel { scalar, avx2, avx512 };

#if defined(__x86_64__) || defined(__i386__)
inline bool cpu_has_avx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
// AVX-512 with byte permutes and byte compression.
inline bool cpu_has_avx512() {
  static const bool has = __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vbmi") &&
                          __builtin_cpu_supports("avx512vbmi2");
  return has;
}
#else
inline bool cpu_has_avx2() { return false; }
inline bool cpu_has_avx512() { return false; }
#endif

inline bool cpu_supports(VectorLevel level) {
  switch (level) {
    case VectorLevel::scalar:
      return true;
    case VectorLevel::avx2:
      return cpu_has_avx2();
    case VectorLevel::avx512:
      return cpu_has_avx512();
  }
  return false;
}

inline VectorLevel best_vector_level() {
  return cpu_has_avx512() ? VectorLevel::avx512
         : cpu_has_avx2() ? VectorLevel::avx2
                          : VectorLevel::scalar;
}

// Which vector instructions the decoders and the archive reader may use.
// Every vector path has a scalar reference; the process picks one level once.
#pragma once

enum class VectorLevel { scalar, avx2, avx512 };

// True when the processor offers `level` (AVX-512 counts only with byte
// permutes and byte compression); scalar always.
bool cpu_supports(VectorLevel level);

// The best level the processor offers.
VectorLevel best_vector_level();

// The level that a value of MIMEUNPACK_VECTOR_LEVEL ("scalar", "avx2",
// "avx512"; null when unset) asks for: the named level when the processor
// offers it, else the best it has.
VectorLevel choose_vector_level(const char* forced);

// The level of this process, chosen at the first call from the environment.
VectorLevel vector_level();

// "scalar", "avx2" or "avx512".
const char* vector_level_name(VectorLevel level);

// Base64 decoding of 1 MiB bodies (line ends already cut, as the decoder
// sees them), beside memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base64_decoder.h"
#include "base64_encoder.h"
#include "base64_table.h"
#include "bench_inputs.h"
#include "vector_level.h"

namespace {

constexpr std::size_t INPUT = 1 << 20;

Base64table table_of(std::string_view alphabet) {
  return base64table_of(alphabet);
}

std::string permuted_alphabet() {
  std::string alphabet(bench::RFC_ALPHABET);
  std::mt19937 rng(7);
  std::shuffle(alphabet.begin(), alphabet.end(), rng);
  return alphabet;
}

void decode(benchmark::State& state, const std::string& alphabet,
            bool pick_level, VectorLevel level) {
  if (pick_level && !cpu_supports(level)) {
    state.SkipWithError("not supported by this processor");
    return;
  }
  const Base64Decoder decoder(table_of(alphabet));
  const std::string text =
      bench::encode_base64(bench::random_bytes(INPUT / 4 * 3, 1), alphabet);
  std::vector<unsigned char> out(text.size() / 4 * 3 + 1);
  for (auto _ : state) {
    if (pick_level)
      decode_base64_groups_at(level, decoder, text.data(), text.size() / 4,
                              out.data());
    else
      decode_base64_groups(decoder, text.data(), text.size() / 4, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

void BM_Memcpy(benchmark::State& state) {
  const std::string text(INPUT, 'A');
  std::vector<char> out(INPUT);
  for (auto _ : state) {
    std::memcpy(out.data(), text.data(), text.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(INPUT));
}

void BM_Base64_Rfc2045(benchmark::State& state) {
  decode(state, std::string(bench::RFC_ALPHABET), false, VectorLevel::scalar);
}
void BM_Base64_Permuted(benchmark::State& state) {
  decode(state, permuted_alphabet(), false, VectorLevel::scalar);
}
void BM_Base64_Rfc2045_Path(benchmark::State& state) {
  decode(state, std::string(bench::RFC_ALPHABET), true,
         static_cast<VectorLevel>(state.range(0)));
}

// Encoding 1 MiB at one level, as --single-file writes inlined parts.
void BM_Base64_Encode_Path(benchmark::State& state) {
  const auto level = static_cast<VectorLevel>(state.range(0));
  if (!cpu_supports(level)) {
    state.SkipWithError("not supported by this processor");
    return;
  }
  const std::string bytes = bench::random_bytes(INPUT / 4 * 3, 2);
  std::vector<char> out(bytes.size() / 3 * 4);
  for (auto _ : state) {
    encode_base64_groups_at(
        level, reinterpret_cast<const unsigned char*>(bytes.data()),
        bytes.size() / 3, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes.size()));
}

}  // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Base64_Rfc2045);
BENCHMARK(BM_Base64_Permuted);
// 0 scalar, 1 AVX2, 2 AVX-512
BENCHMARK(BM_Base64_Rfc2045_Path)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(BM_Base64_Encode_Path)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK_MAIN();

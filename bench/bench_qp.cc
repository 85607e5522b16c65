// Quoted-printable decoding of HTML as office programs write it (an escape
// every few characters, soft breaks at 76), beside memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench_inputs.h"
#include "qp_decoder.h"
#include "vector_level.h"

namespace {

const std::string& body() {
  static const std::string text =
      bench::encode_quoted_printable(bench::html_page(3 << 20, 1));
  return text;
}

constexpr std::size_t BLOCK = 1 << 20;  // as files are written

void decode(benchmark::State& state, bool pick_level, VectorLevel level) {
  if (pick_level && !cpu_supports(level)) {
    state.SkipWithError("not supported by this processor");
    return;
  }
  const std::string& text = body();
  std::vector<char> out(BLOCK);
  for (auto _ : state) {
    std::size_t position = 0;
    while (position < text.size()) {
      const std::size_t stop =
          text.size() - position > BLOCK ? position + BLOCK : text.size();
      benchmark::DoNotOptimize(
          pick_level
              ? decode_quoted_printable_at(level, text, position, stop,
                                           out.data())
              : decode_quoted_printable(text, position, stop, out.data()));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

void BM_Memcpy(benchmark::State& state) {
  const std::string& text = body();
  std::vector<char> out(BLOCK);
  for (auto _ : state) {
    for (std::size_t at = 0; at < text.size(); at += BLOCK)
      std::memcpy(out.data(), text.data() + at,
                  std::min(BLOCK, text.size() - at));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

void BM_QuotedPrintable(benchmark::State& state) {
  decode(state, false, VectorLevel::scalar);
}
void BM_QuotedPrintable_Path(benchmark::State& state) {
  decode(state, true, static_cast<VectorLevel>(state.range(0)));
}

}  // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_QuotedPrintable);
// 0 scalar, 1 AVX2, 2 AVX-512
BENCHMARK(BM_QuotedPrintable_Path)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK_MAIN();

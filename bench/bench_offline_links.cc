// Looking up 20,000 relative references of a page whose location is n, 4n
// and 16n directories deep: the time per reference must not grow with the
// depth (the location is walked once per page, never per reference).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "offline_links.h"

namespace {

constexpr int REFERENCES = 20000;

void relative_references(benchmark::State& state) {
  const auto depth = static_cast<std::size_t>(state.range(0));
  std::string location = "http://h/";
  for (std::size_t i = 0; i < depth; ++i) location += "a/";
  MimeArchive archive;
  MimeLeaf page;
  page.content_type = "text/html";
  page.location = location + "p.html";
  MimeLeaf picture;
  picture.content_type = "image/png";
  picture.location = location + "x5.png";
  archive.leaves = {page, picture};
  const std::vector<std::string> names = {"h/p.html", "h/x5.png"};
  std::vector<std::string> references;
  for (int i = 0; i < REFERENCES; ++i)
    references.push_back("x" + std::to_string(i) + ".png");
  for (auto _ : state) {
    OfflineLinks links(archive, names);
    std::size_t held = 0;
    for (const std::string& reference : references)
      held += links.resolve(0, reference, "").has_value() ? 1 : 0;
    benchmark::DoNotOptimize(held);
  }
  state.counters["location_bytes"] = static_cast<double>(location.size());
}
BENCHMARK(relative_references)
    ->Arg(50000)
    ->Arg(200000)
    ->Arg(800000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

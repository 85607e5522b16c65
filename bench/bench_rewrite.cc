// Rewriting the references of a 16 MB HTML page as office programs write it
// (attribute soup, a picture per paragraph), every picture held, beside
// memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>

#include "offline_path.h"
#include "reference_rewriter.h"
#include "url.h"

namespace {

constexpr std::size_t PAGE_BYTES = 16 << 20;

const std::string& page() {
  static const std::string text = [] {
    std::mt19937 rng(20261209);
    std::string html =
        "<html xmlns:v=\"urn:schemas-microsoft-com:vml\">\r\n<head>\r\n"
        "<meta http-equiv=Content-Type content=\"text/html; "
        "charset=utf-8\">\r\n<style>\r\n<!--\r\n p.MsoNormal {margin:0cm;}"
        "\r\n-->\r\n</style>\r\n</head>\r\n<body lang=EN-US>\r\n";
    unsigned n = 0;
    while (html.size() < PAGE_BYTES) {
      html +=
          "<p class=MsoNormal style='margin-top:0cm;margin-bottom:0cm;"
          "line-height:normal'><span lang=EN-US style='font-size:11.0pt;"
          "font-family:\"Calibri\",sans-serif;color:#1F3864'>";
      for (unsigned w = 5 + rng() % 36; w > 0; --w)
        html += rng() % 4 == 0 ? "caf\xc3\xa9 " : "report ";
      html += "</span><span style='mso-spacerun:yes'>&nbsp;</span>";
      html += "<img width=" + std::to_string(rng() % 1000) +
              " height=" + std::to_string(rng() % 1000) +
              " src=\"page_files/image" + std::to_string(100 + ++n % 900) +
              ".png\"></p>\r\n";
    }
    return html + "</body>\r\n</html>\r\n";
  }();
  return text;
}

const ReferenceResolver& resolver() {
  static std::unordered_map<std::string, std::string> held;
  for (unsigned n = 100; n < 1000; ++n) {
    const std::string path = "page_files/image" + std::to_string(n) + ".png";
    held.emplace(path, encode_url_path(relative_path("page.htm", path)));
  }
  static const ReferenceResolver resolve =
      [](std::string_view reference,
         std::string_view) -> std::optional<std::string> {
    const auto hit = held.find(std::string(reference));
    if (hit == held.end()) return std::nullopt;
    return hit->second;
  };
  return resolve;
}

// Into one string of the page's size (touched once before timing).
void rewrite_to_string(benchmark::State& state) {
  const std::string& html = page();
  const ReferenceResolver& resolve = resolver();
  std::string output;
  for (auto _ : state) {
    const RewriteReport report =
        rewrite_references(html, PartSyntax::html, "utf-8", resolve, output);
    benchmark::DoNotOptimize(report.references);
    benchmark::DoNotOptimize(output.data());
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * html.size()));
}
BENCHMARK(rewrite_to_string)->Unit(benchmark::kMillisecond);

// In pieces into a 1 MiB buffer, as a buffered file takes them.
void rewrite_streamed(benchmark::State& state) {
  const std::string& html = page();
  const ReferenceResolver& resolve = resolver();
  std::string buffer(1 << 20, '\0');
  std::size_t used = 0;
  const ByteSink write = [&](std::string_view bytes) {
    while (!bytes.empty()) {
      if (used == buffer.size()) used = 0;
      const std::size_t n = std::min(bytes.size(), buffer.size() - used);
      std::memcpy(buffer.data() + used, bytes.data(), n);
      used += n;
      bytes.remove_prefix(n);
    }
  };
  for (auto _ : state) {
    const RewriteReport report =
        rewrite_references(html, PartSyntax::html, "utf-8", resolve, write);
    benchmark::DoNotOptimize(report.references);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * html.size()));
}
BENCHMARK(rewrite_streamed)->Unit(benchmark::kMillisecond);

// Through a ReferenceRewriter in 64 KiB runs, as a page decoded block by
// block arrives; memory stays that of one held token.
void rewrite_in_runs(benchmark::State& state) {
  const std::string& html = page();
  const ReferenceResolver& resolve = resolver();
  std::size_t written = 0;
  const ByteSink write = [&written](std::string_view bytes) {
    written += bytes.size();
  };
  for (auto _ : state) {
    ReferenceRewriter rewriter(PartSyntax::html, "utf-8", resolve);
    for (std::size_t at = 0; at < html.size(); at += 65536)
      rewriter.feed(std::string_view(html).substr(at, 65536), write);
    rewriter.finish(write);
    benchmark::DoNotOptimize(rewriter.report().references);
  }
  benchmark::DoNotOptimize(written);
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * html.size()));
}
BENCHMARK(rewrite_in_runs)->Unit(benchmark::kMillisecond);

void copy(benchmark::State& state) {
  const std::string& html = page();
  std::string output;
  for (auto _ : state) {
    output.assign(html);
    benchmark::DoNotOptimize(output.data());
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * html.size()));
}
BENCHMARK(copy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// The archive reader over a 64 MiB archive of base64 parts (76-character
// lines, CR LF) in the page cache: every line, and every part's body with
// its line ends cut; beside read() and memcpy of the same bytes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive_reader.h"
#include "bench_inputs.h"
#include "line_ends.h"

namespace {

constexpr std::size_t ARCHIVE = 64 << 20;

struct ArchiveFile {
  std::filesystem::path path;
  std::string bytes;

  ArchiveFile() {
    const std::string boundary = "----=_NextPart_01DA0B1C.2E3F4A50";
    bytes =
        "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"" +
        boundary + "\"\r\n\r\n";
    const std::string image = bench::encode_base64(
        bench::random_bytes(2500000, 2), bench::RFC_ALPHABET, 76);
    for (int n = 1; bytes.size() < ARCHIVE; ++n)
      bytes += "--" + boundary +
               "\r\nContent-Location: file:///C:/page_files/image" +
               std::to_string(n) +
               ".png\r\nContent-Transfer-Encoding: base64\r\n"
               "Content-Type: image/png\r\n\r\n" +
               image + "\r\n";
    bytes += "--" + boundary + "--\r\n";
    path = std::filesystem::temp_directory_path() /
           ("mimeunpack-bench-" + std::to_string(::getpid()) + ".mht");
    std::ofstream(path, std::ios::binary) << bytes;
  }
  ~ArchiveFile() { std::filesystem::remove(path); }
};

const ArchiveFile& archive() {
  static const ArchiveFile file;
  return file;
}

void processed(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(archive().bytes.size()));
}

void BM_Memcpy(benchmark::State& state) {
  const std::string& bytes = archive().bytes;
  std::vector<char> block(READ_BLOCK);
  for (auto _ : state) {
    for (std::size_t at = 0; at < bytes.size(); at += block.size())
      std::memcpy(block.data(), bytes.data() + at,
                  std::min(block.size(), bytes.size() - at));
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  processed(state);
}

void BM_ReadFile(benchmark::State& state) {
  std::vector<char> block(READ_BLOCK);
  for (auto _ : state) {
    const int fd = ::open(archive().path.c_str(), O_RDONLY);
    while (::read(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }
  processed(state);
}

void BM_ReadLines(benchmark::State& state) {
  for (auto _ : state) {
    ArchiveReader reader = open_archive(archive().path.native());
    std::size_t lines = 0;
    while (read_line(reader)) ++lines;
    benchmark::DoNotOptimize(lines);
  }
  processed(state);
}

void BM_ReadParts(benchmark::State& state) {
  std::vector<char> scratch;
  for (auto _ : state) {
    ArchiveReader reader = open_archive(archive().path.native());
    skip_to_first_boundary(reader);
    while (std::optional<PartBody> part = read_part(reader)) {
      // Each run of a base64 body with its line ends cut, as the decoder
      // cuts them.
      for (std::string_view run = read_body(reader); !run.empty();
           run = read_body(reader)) {
        if (part->encoding != Encoding::base64) continue;
        if (scratch.size() < run.size()) scratch.resize(run.size());
        benchmark::DoNotOptimize(copy_without_line_ends(run, scratch.data()));
      }
    }
  }
  processed(state);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadParts)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

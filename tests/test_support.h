// Helpers shared by the unit tests: fatal conditions as exceptions, stdout
// capture, and a temporary working directory per test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base64_decoder.h"
#include "base64_table.h"
#include "messages.h"
#include "part_decoder.h"
#include "qp_decoder.h"
#include "vector_level.h"

namespace test_support {

// What fatal() was asked to do: the status and the message it would print.
struct FatalError {
  int status;
  std::string message;
};

[[noreturn]] inline void throw_fatal(int status, std::string_view message) {
  throw FatalError{status, std::string(message)};
}

// Installs the throwing handler for the lifetime of the object.
class ThrowOnFatal {
 public:
  ThrowOnFatal() : previous_(set_fatal_handler(throw_fatal)) {}
  ~ThrowOnFatal() { set_fatal_handler(previous_); }
  ThrowOnFatal(const ThrowOnFatal&) = delete;
  ThrowOnFatal& operator=(const ThrowOnFatal&) = delete;

 private:
  FatalHandler previous_;
};

// Everything a call printed, and the fatal condition that ended it, if any.
struct Outcome {
  std::string out;
  std::optional<FatalError> fatal;
};

template <class Function>
Outcome run_captured(Function&& function) {
  Outcome outcome;
  static_cast<void>(flush_output());
  testing::internal::CaptureStdout();
  try {
    std::forward<Function>(function)();
  } catch (const FatalError& error) {
    outcome.fatal = error;
  }
  static_cast<void>(flush_output());
  outcome.out = testing::internal::GetCapturedStdout();
  return outcome;
}

// A fresh directory that the test works in; removed afterwards.
class ScopedTempDir {
 public:
  ScopedTempDir() : previous_(std::filesystem::current_path()) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "mimeunpack-test-XXXXXX")
            .string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
    std::filesystem::current_path(path_);
  }
  ~ScopedTempDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

inline void write_file(const std::filesystem::path& path,
                       std::string_view bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file),
          std::istreambuf_iterator<char>()};
}

// base64.conf for the RFC 2045 alphabet: 63 lines, none for "A".
inline std::string rfc2045_conf() {
  std::string conf;
  for (std::size_t i = 1; i < RFC2045_ALPHABET.size(); ++i)
    conf += std::to_string(i) + " " + RFC2045_ALPHABET[i] + "\n";
  return conf;
}

inline Base64table rfc2045_table() {
  Base64table table;
  for (std::size_t i = 0; i < RFC2045_ALPHABET.size(); ++i)
    table.entries[static_cast<unsigned char>(RFC2045_ALPHABET[i])] =
        static_cast<std::uint8_t>(i);
  return table;
}

// A plain RFC 4648 encoder, independent of the decoder under test.
inline std::string reference_base64(std::string_view data, bool pad = true) {
  std::string out;
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(data[i]) << 16 |
                       static_cast<unsigned char>(data[i + 1]) << 8 |
                       static_cast<unsigned char>(data[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6)
      out += RFC2045_ALPHABET[v >> shift & 63];
  }
  const std::size_t rest = data.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(data[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    out += RFC2045_ALPHABET[v >> 18 & 63];
    out += RFC2045_ALPHABET[v >> 12 & 63];
    if (rest == 2) out += RFC2045_ALPHABET[v >> 6 & 63];
    if (pad) out.append(3 - rest, '=');
  }
  return out;
}

// Deterministic bytes of every value, for large bodies.
inline std::string pseudo_random_bytes(std::size_t size, unsigned seed) {
  std::string out(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (char& c : out) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return out;
}

// A whole base64 body at once, as write_part decodes it block by block.
inline std::string decode_base64_whole(const Base64Decoder& decoder,
                                       std::string_view body) {
  const Base64Split split = split_base64_body(body);
  std::string out(split.whole_groups * 3 + 4, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(out.data());
  decode_base64_groups(decoder, body.data(), split.whole_groups, bytes);
  std::size_t size = split.whole_groups * 3;
  if (!body.empty())
    size += decode_base64_final(decoder, body.substr(split.whole_groups * 4),
                                split.padding, bytes + size);
  out.resize(size);
  return out;
}

// A whole quoted-printable body at once.
inline std::string decode_quoted_printable_whole(std::string_view body) {
  std::string out(body.size(), '\0');
  std::size_t position = 0;
  out.resize(decode_quoted_printable(body, position, body.size(), out.data()));
  return out;
}

// Runs each test of a suite once per vector level; a level the processor
// lacks is skipped, visibly. Instantiate with
//   INSTANTIATE_TEST_SUITE_P(Levels, Suite, ALL_VECTOR_LEVELS, level_name);
class EachVectorLevel : public testing::TestWithParam<VectorLevel> {
 protected:
  void SetUp() override {
    if (!cpu_supports(GetParam()))
      GTEST_SKIP() << "this processor has no " << vector_level_name(GetParam())
                   << " level";
  }
};

inline const auto ALL_VECTOR_LEVELS = testing::Values(
    VectorLevel::scalar, VectorLevel::avx2, VectorLevel::avx512);

inline std::string level_name(const testing::TestParamInfo<VectorLevel>& info) {
  return vector_level_name(info.param);
}

}  // namespace test_support

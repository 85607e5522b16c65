// Bytes to RFC 4648 base64 on their way to another sink, for parts written
// inline as data: URIs: one line, no line ends, padded at the end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream_decoder.h"
#include "vector_level.h"

// `groups` whole groups of three bytes at `in` as four characters each at
// `out`, with the vector paths of `level` (which the processor must
// support); reads no byte past the groups, writes none past their
// characters.
void encode_base64_groups_at(VectorLevel level, const unsigned char* in,
                             std::size_t groups, char* out);

class Base64EncodingSink final : public DecodeSink {
 public:
  explicit Base64EncodingSink(DecodeSink& out,
                              VectorLevel level = vector_level())
      : out_(out), level_(level) {}
  void put(const char* bytes, std::size_t count) override;
  // The input has ended: the last group, padded, and all that waits go out.
  void finish();
  // Bytes taken in so far.
  [[nodiscard]] std::uint64_t taken() const { return taken_; }

 private:
  // Encoded characters are handed on in blocks this large.
  static constexpr std::size_t BLOCK = 1 << 16;

  DecodeSink& out_;
  VectorLevel level_;
  unsigned char carry_[3] = {};
  std::size_t carried_ = 0;
  char block_[BLOCK] = {};
  std::size_t used_ = 0;
  std::uint64_t taken_ = 0;

  // Encodes whole groups of `count` bytes at `in`; returns the bytes used.
  std::size_t encode_groups(const unsigned char* in, std::size_t count);
  void flush();
};

// A part's body decoded while it is read: bytes go in as they come, in runs
// of any size, and decoded bytes come out block by block into a sink, so a
// body never has to be held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base64_decoder.h"
#include "vector_level.h"

// Input bytes decoded before each hand-over to the sink: small enough for
// the blocks to stay in cache. Fuzz builds shrink it so that escapes and
// groups straddle blocks.
#ifndef MIMEUNPACK_DECODE_BLOCK
#define MIMEUNPACK_DECODE_BLOCK (1 << 18)
#endif
inline constexpr std::size_t DECODE_BLOCK = MIMEUNPACK_DECODE_BLOCK;

// Where decoded bytes go: a file, or a count of them.
class DecodeSink {
 public:
  virtual void put(const char* bytes, std::size_t count) = 0;

 protected:
  DecodeSink() = default;
  DecodeSink(const DecodeSink&) = default;
  DecodeSink& operator=(const DecodeSink&) = default;
  ~DecodeSink() = default;
};

// Counts the decoded bytes and keeps none: a part's size without its file.
class CountingSink final : public DecodeSink {
 public:
  void put(const char* /*bytes*/, std::size_t count) override {
    count_ += count;
  }
  [[nodiscard]] std::uint64_t count() const { return count_; }

 private:
  std::uint64_t count_ = 0;
};

// How a base64 body's bytes are read. `table`: every byte but a line end
// is a character of the table, "=" padding only at the body's end.
// `rfc2045` (MIME's own bodies, RFC 2045 alphabet): any byte outside the
// alphabet is skipped (blanks, stray characters, lone CRs), and padding that
// completes a group ("=" in its fourth place, "==" in its third and fourth)
// ends the data; any other "=" is skipped. Python's email package reads the
// same, and no byte is made up for an "=".
enum class Base64Input { table, rfc2045 };

// Decodes one body: base64 through `decoder` (its line ends cut, whatever
// runs they arrive in), or quoted-printable when `decoder` is null. A few
// bytes wait between runs: an incomplete base64 group, the last two bytes of
// an unfinished line, an "=" whose two bytes after it have not come yet. The
// body's end (finish) settles them by the rules of a body's real end.
class StreamDecoder {
 public:
  explicit StreamDecoder(const Base64Decoder* decoder,
                         VectorLevel level = vector_level(),
                         Base64Input input = Base64Input::table);
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;
  ~StreamDecoder() = default;

  // The next bytes of the body, exactly as they stand in the archive.
  void feed(std::string_view bytes, DecodeSink& sink);
  // The body has ended: what waits is decoded by the end-of-body rules.
  void finish(DecodeSink& sink);

 private:
  std::size_t cut_line_ends(std::string_view bytes, char* out);
  void decode_groups(char* chars, std::size_t count, DecodeSink& sink);
  std::size_t skip_strays(char* chars, std::size_t count);
  void feed_quoted_printable(std::string_view bytes, DecodeSink& sink);

  const Base64Decoder* base64_;
  VectorLevel level_;
  Base64Input input_;
  bool ended_ = false;    // rfc2045: padding has ended the data
  std::size_t pads_ = 0;  // rfc2045: "=" since the last character
  // Base64: the last characters, which may be the final group (1 to 4), and
  // the last bytes of a line whose end has not come yet (up to 2).
  char group_[4] = {};
  std::size_t group_size_ = 0;
  char line_tail_[2] = {};
  std::size_t line_tail_size_ = 0;
  // Quoted-printable: bytes that an "=" may still take with it (up to 2).
  char qp_tail_[2] = {};
  std::size_t qp_tail_size_ = 0;
};

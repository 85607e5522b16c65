// SHA-256 of decoded bytes on their way to another sink, in the same pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "stream_decoder.h"

// Hashes and counts every byte it is given, then hands it on to `next`
// unchanged, so a part is hashed without a second read.
class HashingSink final : public DecodeSink {
 public:
  explicit HashingSink(DecodeSink& next);
  HashingSink(const HashingSink&) = delete;
  HashingSink& operator=(const HashingSink&) = delete;
  ~HashingSink();

  void put(const char* bytes, std::size_t count) override;
  [[nodiscard]] std::uint64_t count() const { return count_; }
  // The digest of all bytes put, as 64 lower-case hex digits; no byte may be
  // put after it.
  [[nodiscard]] std::string hex();

 private:
  DecodeSink& next_;
  void* checksum_;  // GLib's GChecksum: GLib stays out of this header
  std::uint64_t count_ = 0;
};

#include "base64_encoder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char ALPHABET[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

void Base64EncodingSink::encode_group(const unsigned char* group) {
  if (used_ + 4 > BLOCK) flush();
  const std::uint32_t value = (std::uint32_t{group[0]} << 16) |
                              (std::uint32_t{group[1]} << 8) | group[2];
  block_[used_] = ALPHABET[(value >> 18) & 63];
  block_[used_ + 1] = ALPHABET[(value >> 12) & 63];
  block_[used_ + 2] = ALPHABET[(value >> 6) & 63];
  block_[used_ + 3] = ALPHABET[value & 63];
  used_ += 4;
}

void Base64EncodingSink::put(const char* bytes, std::size_t count) {
  taken_ += count;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  if (carried_ > 0) {
    const std::size_t take = std::min(count, 3 - carried_);
    std::memcpy(carry_ + carried_, in, take);
    carried_ += take;
    in += take;
    count -= take;
    if (carried_ < 3) return;
    encode_group(carry_);
    carried_ = 0;
  }
  while (count >= 3) {
    encode_group(in);
    in += 3;
    count -= 3;
  }
  std::memcpy(carry_, in, count);
  carried_ = count;
}

void Base64EncodingSink::finish() {
  if (carried_ > 0) {
    if (carried_ == 1) carry_[1] = 0;
    carry_[2] = 0;
    const unsigned char* group = carry_;
    encode_group(group);
    block_[used_ - 1] = '=';
    if (carried_ == 1) block_[used_ - 2] = '=';
    carried_ = 0;
  }
  flush();
}

void Base64EncodingSink::flush() {
  if (used_ > 0) out_.put(block_, used_);
  used_ = 0;
}

#include "text.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "messages.h"

namespace {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

// Large blocks are faulted in with one call rather than a page at a time,
// which costs more than the copying that follows. Refusal (older kernels)
// costs only that speed.
void populate(char* from, std::size_t size) {
  constexpr std::uintptr_t PAGE = 4096;
  if (size < (std::size_t{1} << 20)) return;
  const auto start = reinterpret_cast<std::uintptr_t>(from);
  const std::uintptr_t first = (start + PAGE - 1) & ~(PAGE - 1);
  const std::uintptr_t last = (start + size) & ~(PAGE - 1);
  if (last > first)
    ::madvise(reinterpret_cast<void*>(first), last - first,
              MADV_POPULATE_WRITE);
}

}  // namespace

Text::Text(Text&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

Text::~Text() { std::free(data_); }

void Text::reserve_more(std::size_t extra) {
  if (capacity_ - size_ >= extra) return;
  if (extra > SIZE_MAX / 2 - size_) fail_no_memory();
  std::size_t wanted = size_ + extra;
  // Half again as much each time keeps appends linear without doubling
  // the memory of a large body.
  std::size_t step = capacity_ / 2 > BODY_GROWTH ? capacity_ / 2 : BODY_GROWTH;
  std::size_t capacity = capacity_ + step > wanted ? capacity_ + step : wanted;
  void* grown = std::realloc(data_, capacity);
  if (grown == nullptr) fail_no_memory();
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
  populate(data_ + size_, capacity_ - size_);
}

void Text::append(const char* bytes, std::size_t count) {
  if (count == 0) return;
  reserve_more(count);
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
}

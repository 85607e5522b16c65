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

// Room about to be written is faulted in with one call per this many bytes
// rather than a page at a time, which costs more than the copying that
// follows. Refusal (older kernels) costs only that speed.
constexpr std::size_t POPULATE_STEP = std::size_t{256} << 10;

void populate(char* from, std::size_t size) {
  constexpr std::size_t PAGE = 4096;
  const auto start = reinterpret_cast<std::uintptr_t>(from);
  const std::size_t skip = (PAGE - start % PAGE) % PAGE;
  if (size <= skip) return;
  const std::size_t length = (size - skip) & ~(PAGE - 1);
  if (length > 0) ::madvise(from + skip, length, MADV_POPULATE_WRITE);
}

}  // namespace

Text::Text(Text&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      populated_(std::exchange(other.populated_, 0)) {}

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    populated_ = std::exchange(other.populated_, 0);
  }
  return *this;
}

Text::~Text() { std::free(data_); }

void Text::populate_to(std::size_t end) {
  if (end <= populated_ || end - populated_ < POPULATE_STEP) return;
  populate(data_ + populated_, end - populated_);
  populated_ = end;
}

void Text::reserve_more(std::size_t extra) {
  if (capacity_ - size_ >= extra) {
    populate_to(size_ + extra);
    return;
  }
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
  // Only the bytes kept are sure to have come along.
  if (populated_ > size_) populated_ = size_;
  populate_to(size_ + extra);
}

void Text::reserve_untouched(std::size_t total) {
  if (total <= capacity_) return;
  void* grown = std::realloc(data_, total);
  if (grown == nullptr) fail_no_memory();
  data_ = static_cast<char*>(grown);
  capacity_ = total;
  if (populated_ > size_) populated_ = size_;
}

void Text::append(const char* bytes, std::size_t count) {
  if (count == 0) return;
  reserve_more(count);
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
}

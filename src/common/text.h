// A growable heap block of bytes. Grown by realloc so that large bodies
// can be moved by the allocator instead of copied.
#pragma once

#include <cstddef>
#include <string_view>

// Smallest step by which a body grows; larger bodies grow geometrically.
inline constexpr std::size_t BODY_GROWTH = 1024;

class Text {
 public:
  Text() = default;
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;
  Text(Text&& other) noexcept;
  Text& operator=(Text&& other) noexcept;
  ~Text();

  char* data() { return data_; }
  [[nodiscard]] const char* data() const { return data_; }
  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] std::size_t capacity() const { return capacity_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] std::string_view view() const { return {data_, size_}; }

  // Makes room for at least `extra` more bytes; out of memory is fatal.
  void reserve_more(std::size_t extra);
  // Sets aside room for `total` bytes without touching it, so that a body
  // growing into it is never moved (moved pages are slow to touch again).
  void reserve_untouched(std::size_t total);
  void append(const char* bytes, std::size_t count);
  void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
  // For callers that wrote into the reserved room themselves.
  void grow_size(std::size_t count) { size_ += count; }
  void shrink_to(std::size_t count) { size_ = count; }
  void clear() { size_ = 0; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t populated_ = 0;  // leading bytes whose pages are faulted in

  void populate_to(std::size_t end);
};

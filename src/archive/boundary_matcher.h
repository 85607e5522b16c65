// Finds the archive's boundary inside buffered bytes. Built once per archive;
// the boundary is a plain substring, matched anywhere and with case.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

class BoundaryMatcher {
 public:
  static constexpr std::size_t npos = std::string_view::npos;

  BoundaryMatcher() = default;
  explicit BoundaryMatcher(std::string_view boundary);

  // Offset of the first occurrence in `haystack`, or npos.
  [[nodiscard]] std::size_t find(std::string_view haystack) const;
  // The Horspool reference for find; also its path at the scalar level.
  [[nodiscard]] std::size_t find_horspool(std::string_view haystack) const;
  [[nodiscard]] std::size_t size() const { return needle_.size(); }

 private:
  std::string needle_;
  // Horspool shifts: how far the window may move when its last byte is b.
  std::array<std::size_t, 256> shift_{};
};

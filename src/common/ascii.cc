#include "ascii.h"

std::string_view trim(std::string_view text) {
  constexpr std::string_view around = " \t\r\n";
  const std::size_t first = text.find_first_not_of(around);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(around) - first + 1);
}

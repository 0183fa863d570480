// Counting in what the scripted modem received.
#pragma once

#include <cstddef>
#include <string_view>

namespace vexo::test {

// How often part stands in text.
inline std::size_t CountOf(std::string_view text, std::string_view part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string_view::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace vexo::test

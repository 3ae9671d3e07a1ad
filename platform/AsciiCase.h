// Comparison of names without regard to ASCII letter case, as the platform compares
// registry names, port names and file names.
#pragma once

#include <algorithm>
#include <string_view>

namespace platform {

inline bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  return std::ranges::equal(a, b,
                            [&](unsigned char x, unsigned char y) { return lower(x) == lower(y); });
}

}  // namespace platform

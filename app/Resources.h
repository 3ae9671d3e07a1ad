// The program's own resources: data built into the executable, found by name and type.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

struct EmbeddedResource {
  std::string_view name;
  std::string_view type;
  std::span<const unsigned char> data;
};

// Every resource built into the program (generated at build time).
const std::vector<EmbeddedResource>& EmbeddedResources();

// The resource of that name and type (names compare without regard to ASCII case).
std::optional<std::span<const unsigned char>> FindResource(std::string_view name,
                                                           std::string_view type);

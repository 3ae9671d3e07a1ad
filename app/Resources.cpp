#include "app/Resources.h"

#include "platform/AsciiCase.h"

std::optional<std::span<const unsigned char>> FindResource(std::string_view name,
                                                           std::string_view type) {
  for (const EmbeddedResource& resource : EmbeddedResources())
    if (platform::EqualsIgnoreAsciiCase(resource.name, name) &&
        platform::EqualsIgnoreAsciiCase(resource.type, type))
      return resource.data;
  return std::nullopt;
}

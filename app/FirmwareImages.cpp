#include "app/FirmwareImages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/Resources.h"

bool LoadEmbeddedImage(const char* name, TMZData& image, std::string& error) {
  const auto data = FindResource(name, kImageResourceType);
  if (!data) {
    error = std::string("Ressource ") + name + " nicht gefunden";
    return false;
  }
  if (data->size() < kImageSize) {
    error = std::string("Ressource ") + name + " ist zu kurz";
    return false;
  }
  std::memcpy(image.data(), data->data(), kImageSize);
  return true;
}

std::int32_t ImageVersion(const TMZData& image) {
  return image[0] * 100 + image[1];
}

std::string VersionText(const TMZData& image) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%2.2d", image[0], image[1]);
  return text;
}

ByteString BuildBlock(const TMZData& image, std::size_t k) {
  const std::size_t offset = k * kBlockSize;
  ByteString block;
  block.reserve(3 + kBlockSize);
  block += static_cast<char>((offset >> 16) + (kLoadAddress >> 16));
  block += static_cast<char>((offset >> 8) & 0xFF);
  block += static_cast<char>(offset & 0xFF);
  block.append(reinterpret_cast<const char*>(image.data() + offset), kBlockSize);
  return block;
}

std::vector<ByteString> BuildBlockList(const TMZData& image) {
  std::vector<ByteString> blocks;
  for (std::size_t k = 0; k < kBlockCount; ++k) {
    const auto* first = image.data() + k * kBlockSize;
    if (std::all_of(first, first + kBlockSize, [](std::uint8_t b) { return b == 0xFF; })) continue;
    blocks.push_back(BuildBlock(image, k));
  }
  return blocks;
}

// The firmware images the program carries, their versions, and the blocks they are sent in.
//
// An image is the whole flash area from load address 0xE0000 to 0xFFFFF; bytes 0 and 1 hold
// the major and minor version. It travels in 64-byte blocks of 67 bytes on the wire: three
// address bytes (high, middle, low), then the block's image bytes. Erased blocks (all 0xFF)
// are not sent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "util/ByteString.h"

inline constexpr std::size_t kImageSize = 131072;
inline constexpr std::size_t kBlockSize = 64;
inline constexpr std::size_t kBlockCount = kImageSize / kBlockSize;
inline constexpr std::uint32_t kLoadAddress = 0xE0000;

using TMZData = std::array<std::uint8_t, kImageSize>;

enum class THardwareRevision : std::uint8_t { hr0_M16CNA = 0, hr1_M16CN4 = 1 };

// Names of the built-in images (resource type "BIN") per revision.
inline constexpr const char* kImageResourceType = "BIN";
inline constexpr const char* kImageNameHR0 = "M16CNA";
inline constexpr const char* kImageNameHR1 = "M16CN4";

// Copies the built-in image `name` into `image`; false with a reason when it is missing or
// shorter than an image.
bool LoadEmbeddedImage(const char* name, TMZData& image, std::string& error);

// major × 100 + minor.
std::int32_t ImageVersion(const TMZData& image);
// "%d.%2.2d" of major and minor, as the window caption shows it.
std::string VersionText(const TMZData& image);

// The 67-byte wire form of block k (0..2047).
ByteString BuildBlock(const TMZData& image, std::size_t k);
// Every block that holds a byte other than 0xFF, in ascending address order.
std::vector<ByteString> BuildBlockList(const TMZData& image);

#include "util/Checksums.h"

#include <array>

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrc32Table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    table[i] = r;
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> MakeCrc16Table() {
  std::array<std::uint16_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i << 8;
    for (int bit = 0; bit < 8; ++bit) r = (r & 0x8000) ? (r << 1) ^ 0x1021 : r << 1;
    table[i] = static_cast<std::uint16_t>(r);
  }
  return table;
}

constexpr auto kCrc32Table = MakeCrc32Table();
constexpr auto kCrc16Table = MakeCrc16Table();

static_assert(kCrc32Table[1] == 0x77073096u);
static_assert(kCrc16Table[1] == 0x1021 && kCrc16Table[2] == 0x2042);
static_assert(kCrc16Table[128] == 0x9188 && kCrc16Table[255] == 0x1EF0);

}  // namespace

std::uint32_t BerechneCRC32(const void* Data, std::size_t Len) {
  if (Len == 0) return 0;
  const auto* bytes = static_cast<const std::uint8_t*>(Data);
  std::uint32_t reg = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < Len; ++i) reg = kCrc32Table[(reg ^ bytes[i]) & 0xFF] ^ (reg >> 8);
  return ~reg;
}

std::uint16_t BerechneCRC16(const void* Data, std::size_t Len) {
  const auto* bytes = static_cast<const std::uint8_t*>(Data);
  std::uint16_t reg = 0xFFFF;
  for (std::size_t i = 0; i < Len; ++i)
    reg = static_cast<std::uint16_t>((reg >> 8) ^ kCrc16Table[(reg ^ bytes[i]) & 0xFF]);
  return reg;
}

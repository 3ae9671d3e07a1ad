// Build tool: writes a deterministic sample firmware image of 131072 bytes.
//
//   make_sample_image <major> <minor> <seed> <out.bin> [--dense]
//
// The layout resembles a real image: the version bytes, code regions holding every byte
// value (0x10 often, so frames need DLE doubling) separated by erased 0xFF stretches, and a
// vector table at the top. --dense leaves no block erased.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kImageSize = 131072;
constexpr std::size_t kBlock = 64;

struct SplitMix64 {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t Range(std::size_t lo, std::size_t hi) { return lo + Next() % (hi - lo + 1); }
};

void FillCode(std::vector<std::uint8_t>& image, std::size_t from, std::size_t to, SplitMix64& rng) {
  for (std::size_t i = from; i < to; ++i) {
    const std::uint64_t r = rng.Next();
    image[i] = (r % 11 == 0) ? 0x10 : static_cast<std::uint8_t>(r >> 8);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s <major> <minor> <seed> <out.bin> [--dense]\n", argv[0]);
    return 64;
  }
  const int major = std::atoi(argv[1]);
  const int minor = std::atoi(argv[2]);
  SplitMix64 rng{std::strtoull(argv[3], nullptr, 0)};
  const bool dense = argc > 5 && std::strcmp(argv[5], "--dense") == 0;

  std::vector<std::uint8_t> image(kImageSize, 0xFF);
  if (dense) {
    FillCode(image, 0, kImageSize, rng);
    // Every block keeps at least one byte that is not 0xFF.
    for (std::size_t b = 0; b < kImageSize; b += kBlock) image[b + 2] = 0x10;
  } else {
    // Start-up code right behind the version bytes, with a ramp of every byte value.
    std::size_t pos = 2;
    for (int v = 0; v < 256; ++v) image[pos++] = static_cast<std::uint8_t>(v);
    std::size_t end = pos + rng.Range(1024, 4096);
    FillCode(image, pos, end, rng);
    pos = end;
    // Further regions separated by erased stretches; the top 8 KiB stay free for the table.
    while (pos < kImageSize - 8192) {
      pos += rng.Range(200, 6000);  // erased
      const std::size_t length = rng.Range(300, 7000);
      end = pos + length < kImageSize - 8192 ? pos + length : kImageSize - 8192;
      if (pos < end) FillCode(image, pos, end, rng);
      pos = end;
    }
    // Fixed vector table: 36 bytes at the top of the flash.
    FillCode(image, kImageSize - 36, kImageSize, rng);
  }
  image[0] = static_cast<std::uint8_t>(major);
  image[1] = static_cast<std::uint8_t>(minor);

  FILE* out = std::fopen(argv[4], "wb");
  if (!out || std::fwrite(image.data(), 1, image.size(), out) != image.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[4]);
    return 1;
  }
  return 0;
}

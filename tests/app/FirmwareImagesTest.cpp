#include <gtest/gtest.h>

#include <algorithm>

#include "app/FirmwareImages.h"
#include "app/Resources.h"

namespace {

TMZData Erased() {
  TMZData image;
  image.fill(0xFF);
  return image;
}

}  // namespace

TEST(FirmwareImages, BuiltInImagesLoadWithTheirVersions) {
  TMZData hr0{}, hr1{};
  std::string error;
  ASSERT_TRUE(LoadEmbeddedImage(kImageNameHR0, hr0, error)) << error;
  ASSERT_TRUE(LoadEmbeddedImage(kImageNameHR1, hr1, error)) << error;
  EXPECT_EQ(ImageVersion(hr0), 330);
  EXPECT_EQ(ImageVersion(hr1), 1330);
  EXPECT_EQ(VersionText(hr0), "3.30");
  EXPECT_EQ(VersionText(hr1), "13.30");
  EXPECT_NE(hr0, hr1);
  EXPECT_EQ(FindResource("m16cna", "bin")->size(), kImageSize) << "names ignore letter case";

  TMZData unused{};
  EXPECT_FALSE(LoadEmbeddedImage("M16CNX", unused, error));
  EXPECT_FALSE(error.empty());
}

TEST(FirmwareImages, SampleImagesLookLikeRealOnes) {
  for (const char* name : {kImageNameHR0, kImageNameHR1}) {
    TMZData image{};
    std::string error;
    ASSERT_TRUE(LoadEmbeddedImage(name, image, error));
    const auto blocks = BuildBlockList(image);
    EXPECT_GT(blocks.size(), 0u) << name;
    EXPECT_LT(blocks.size(), kBlockCount) << name << ": some blocks must be erased";
    bool dle = false, partly_erased = false;
    for (const auto& block : blocks) {
      dle = dle || block.find('\x10', 3) != std::string::npos;
      partly_erased = partly_erased || block.find('\xFF', 3) != std::string::npos;
    }
    EXPECT_TRUE(dle) << "frames of the image need DLE doubling";
    EXPECT_TRUE(partly_erased);
    for (int v = 0; v < 256; ++v)
      EXPECT_NE(std::find(image.begin(), image.end(), static_cast<std::uint8_t>(v)), image.end())
          << name << " lacks byte value " << v;
  }
}

TEST(FirmwareImages, VersionNumbersAndTexts) {
  TMZData image = Erased();
  image[0] = 0x01;
  image[1] = 0x64;
  EXPECT_EQ(ImageVersion(image), 200);
  EXPECT_EQ(VersionText(image), "1.100");
  image[0] = 0x02;
  image[1] = 0x00;
  EXPECT_EQ(ImageVersion(image), 200);
  EXPECT_EQ(VersionText(image), "2.00");
  image[0] = 0;
  image[1] = 5;
  EXPECT_EQ(VersionText(image), "0.05");
}

TEST(FirmwareImages, BlockAddresses) {
  TMZData image = Erased();
  auto address = [&](std::size_t k) { return BuildBlock(image, k).substr(0, 3); };
  EXPECT_EQ(address(0), std::string("\x0E\x00\x00", 3));
  EXPECT_EQ(address(1), std::string("\x0E\x00\x40", 3));
  EXPECT_EQ(address(1023), std::string("\x0E\xFF\xC0", 3));
  EXPECT_EQ(address(1024), std::string("\x0F\x00\x00", 3));
  EXPECT_EQ(address(2047), std::string("\x0F\xFF\xC0", 3));
  EXPECT_EQ(BuildBlock(image, 5).size(), 67u);
}

TEST(FirmwareImages, BlockListSkipsErasedBlocksOnly) {
  TMZData image = Erased();
  EXPECT_TRUE(BuildBlockList(image).empty());

  image[64] = 0x00;
  auto blocks = BuildBlockList(image);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].substr(0, 4), std::string("\x0E\x00\x40\x00", 4));
  EXPECT_EQ(std::count(blocks[0].begin() + 4, blocks[0].end(), '\xFF'), 63);

  image[kImageSize - 1] = 0x12;
  image[0] = 0x03;
  blocks = BuildBlockList(image);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].substr(0, 3), std::string("\x0E\x00\x00", 3)) << "ascending addresses";
  EXPECT_EQ(blocks[2].substr(0, 3), std::string("\x0F\xFF\xC0", 3));
  EXPECT_EQ(static_cast<std::uint8_t>(blocks[2].back()), 0x12);
}

#include <gtest/gtest.h>

#include "util/Checksums.h"

TEST(Checksums, Crc32PublishedCheckValues) {
  EXPECT_EQ(BerechneCRC32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(BerechneCRC32("a", 1), 0xE8B7BE43u);
  EXPECT_EQ(BerechneCRC32("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
  EXPECT_EQ(BerechneCRC32("", 0), 0u);
}

TEST(Checksums, SixteenBitValueIsNotCcittFalse) {
  EXPECT_EQ(BerechneCRC16("abc", 3), 0x3C5F);
  EXPECT_EQ(BerechneCRC16("A", 1), 0x46EA);
  EXPECT_NE(BerechneCRC16("123456789", 9), 0x29B1) << "that would be CRC-16/CCITT-FALSE";
  EXPECT_EQ(BerechneCRC16("", 0), 0xFFFF);
}

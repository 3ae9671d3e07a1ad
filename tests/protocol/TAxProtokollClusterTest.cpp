#include <gtest/gtest.h>

#include "protocol/TAxProtokollCluster.h"
#include "util/Checksums.h"

namespace {

ByteString Bytes(std::initializer_list<int> values) {
  ByteString s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

}  // namespace

TEST(TAxProtokollCluster, ReadsBeyondTheEndGiveZero) {
  TAxProtokollCluster c(Bytes({0x41, 0xFF}));
  EXPECT_EQ(c.GetSize(), 2u);
  EXPECT_EQ(c.GetByteAtPos(1), 0xFF);
  EXPECT_EQ(c.GetCharAtPos(2), '\0');
  EXPECT_EQ(c.GetByteAtPos(0xFFFFFFFFu), 0);
  EXPECT_EQ(c.GetDezimalCharAtPos(0), "65");
  EXPECT_EQ(c.GetDezimalCharAtPos(1), "255");
  EXPECT_EQ(c.GetDezimalCharAtPos(9), "0");
  EXPECT_EQ(c.GetDataAsHexString(), "41FF");
}

TEST(TAxProtokollCluster, EmptyBuffer) {
  TAxProtokollCluster c;
  EXPECT_EQ(c.BestimmeBCC(), 0);
  EXPECT_EQ(c.BestimmeCRC(), 0);
  EXPECT_EQ(c.BestimmeCRC16(), 0xFFFFu);
  EXPECT_EQ(c.GetDataAsHexString(), "");
  EXPECT_EQ(c.GetDataAsString(), "");
  EXPECT_FALSE(c.VergleicheCRC());
  EXPECT_FALSE(c.VergleicheCRC16());
  EXPECT_EQ(c.Get3964RBCCDataWithCRC(), "");
  char dest[4] = {'x', 'x', 'x', 'x'};
  c.Get3964RBCCDataWithCRC(dest);
  EXPECT_EQ(dest[0], 'x') << "nothing written for an empty buffer";
}

TEST(TAxProtokollCluster, InsertRemoveAndCopies) {
  TAxProtokollCluster c(Bytes({1, 0, 3}));
  c.AddCharAtPos(1, 9);  // 1 9 0 3
  c.AddCharAtPos(4, 7);  // append
  c.AddCharAtPos(0, 5);  // 5 1 9 0 3 7
  EXPECT_EQ(c.GetDataAsString(), Bytes({5, 1, 9, 0, 3, 7}));
  c.AddCharAtPos(100, 8);  // out of range appends rather than writing outside
  EXPECT_EQ(c.GetDataAsString(), Bytes({5, 1, 9, 0, 3, 7, 8}));

  c.RemoveCharAtPos(2);
  EXPECT_EQ(c.GetDataAsString(), Bytes({5, 1, 0, 3, 7, 8}));
  c.RemoveCharAtPos(6);
  c.RemoveCharAtPos(1000);
  EXPECT_EQ(c.GetSize(), 6u);

  char buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), '#');
  EXPECT_EQ(c.GetDataAsPChar(buffer), buffer);
  EXPECT_EQ(std::string(buffer, 8), Bytes({5, 1, 0, 3, 7, 8, 0, '#'}));
  EXPECT_EQ(c.GetDataAsPChar(nullptr), nullptr);
  unsigned char raw[6] = {};
  c.GetData(raw);
  EXPECT_EQ(raw[4], 7);
  c.GetData(nullptr);  // does nothing

  TAxProtokollCluster one(Bytes({0x42}));
  one.RemoveCharAtPos(0);
  EXPECT_EQ(one.GetSize(), 0u);
}

TEST(TAxProtokollCluster, BlockCheckCharacter) {
  TAxProtokollCluster empty_frame(Bytes({0x10, 0x03, 0x13}));
  EXPECT_EQ(empty_frame.BestimmeBCC(), 0) << "DLE ETX BCC of an empty telegram";
  TAxProtokollCluster c(Bytes({0x02, 0x10, 0xF0, 0x10, 0x03}));
  c.AddBCC();
  EXPECT_EQ(c.GetByteAtPos(5), 0x02 ^ 0x10 ^ 0xF0 ^ 0x10 ^ 0x03);
  EXPECT_EQ(c.BestimmeBCC(), 0);
}

TEST(TAxProtokollCluster, Crc32AppendVerifyAndShortBuffers) {
  TAxProtokollCluster c(ByteString("123456789"));
  EXPECT_EQ(static_cast<std::uint32_t>(c.BestimmeCRC()), 0xCBF43926u);
  c.AddCRC();
  EXPECT_EQ(c.GetSize(), 13u);
  EXPECT_EQ(c.GetDataAsHexString().substr(18), "CBF43926") << "most significant byte first";
  EXPECT_TRUE(c.VergleicheCRC());
  c.AddCharAtPos(0, 'x');
  EXPECT_FALSE(c.VergleicheCRC());

  // Four bytes or fewer never verify, even when they are the CRC of nothing.
  EXPECT_FALSE(TAxProtokollCluster(Bytes({0, 0, 0, 0})).VergleicheCRC());
  TAxProtokollCluster one(ByteString("a"));
  one.AddCRC();
  EXPECT_TRUE(one.VergleicheCRC()) << "five bytes: one data byte and its CRC";
}

TEST(TAxProtokollCluster, Crc16AppendVerifyAndShortBuffers) {
  TAxProtokollCluster c(ByteString("abc"));
  EXPECT_EQ(c.BestimmeCRC16(), 0x3C5Fu);
  c.AddCRC16();
  EXPECT_EQ(c.GetDataAsHexString(), "6162633C5F") << "high byte first";
  EXPECT_TRUE(c.VergleicheCRC16());
  EXPECT_FALSE(TAxProtokollCluster(Bytes({0xFF, 0xFF})).VergleicheCRC16());
  TAxProtokollCluster a(ByteString("A"));
  EXPECT_EQ(a.BestimmeCRC16(), 0x46EAu);
}

TEST(TAxProtokollCluster, BlockModeFormReplacesBccByCrc) {
  const ByteString frame = Bytes({0x01, 0x10, 0x10, 0x10, 0x03, 0x12});
  TAxProtokollCluster c(frame);
  unsigned char dest[9 + 1];
  dest[9] = 0xAA;
  c.Get3964RBCCDataWithCRC(dest);
  EXPECT_EQ(dest[9], 0xAA) << "exactly size + 3 bytes written";
  const std::uint32_t crc = BerechneCRC32(frame.data(), 5);
  const ByteString expected =
      frame.substr(0, 5) +
      Bytes({static_cast<int>(crc >> 24), static_cast<int>((crc >> 16) & 0xFF),
             static_cast<int>((crc >> 8) & 0xFF), static_cast<int>(crc & 0xFF)});
  EXPECT_EQ(ByteString(reinterpret_cast<char*>(dest), 9), expected);
  EXPECT_EQ(c.Get3964RBCCDataWithCRC(), expected);
  EXPECT_TRUE(TAxProtokollCluster(expected).VergleicheCRC()) << "the receiver's check agrees";
}

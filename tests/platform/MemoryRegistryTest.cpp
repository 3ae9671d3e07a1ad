// The registry in memory, the store the component tests use on every platform.
#include <gtest/gtest.h>

#include "platform/MemoryRegistry.h"

using namespace platform;

TEST(MemoryRegistry, KeysAndValuesIgnoreCaseAndKeepCreationOrder) {
  MemoryRegistry reg;
  EXPECT_EQ(reg.KeyExists("Software\\Quenzhal"), RegStatus::NotFound);
  ASSERT_EQ(reg.WriteValue("\\Software\\Quenzhal\\Sub", "Zeta", RegValue::Text("1")),
            RegStatus::Ok);
  ASSERT_EQ(reg.WriteValue("software\\QUENZHAL\\sub", "alpha", RegValue::Text("2")), RegStatus::Ok);
  ASSERT_EQ(reg.WriteValue("Software\\Quenzhal\\Sub", "ZETA", RegValue::Text("3")), RegStatus::Ok);

  std::vector<std::string> names;
  ASSERT_EQ(reg.ValueNames("Software\\\\Quenzhal\\Sub\\", names), RegStatus::Ok);
  EXPECT_EQ(names, (std::vector<std::string>{"Zeta", "alpha"}));
  RegValue value;
  ASSERT_EQ(reg.ReadValue("SOFTWARE\\quenzhal\\SUB", "zeta", value), RegStatus::Ok);
  EXPECT_EQ(value, RegValue::Text("3"));

  ASSERT_EQ(reg.SubKeyNames("Software", names), RegStatus::Ok);
  EXPECT_EQ(names, std::vector<std::string>{"Quenzhal"});
  EXPECT_EQ(reg.ReadValue("Software\\Quenzhal\\Sub", "missing", value), RegStatus::NotFound);
  EXPECT_EQ(reg.SubKeyNames("Software\\Nothing", names), RegStatus::NotFound);
  EXPECT_TRUE(names.empty());
}

TEST(MemoryRegistry, TypesBytesDeletionAndFailureInjection) {
  MemoryRegistry reg;
  const std::string all_bytes = std::string("\0\x0b\xff", 3);
  reg.WriteValue("K", "chars", RegValue::Text(all_bytes));
  reg.WriteValue("K", "number", RegValue{RegType::Dword, std::string("\x08\0\0\0", 4)});
  RegValue value;
  ASSERT_EQ(reg.ReadValue("K", "chars", value), RegStatus::Ok);
  EXPECT_EQ(value.data, all_bytes);
  ASSERT_EQ(reg.ReadValue("K", "number", value), RegStatus::Ok);
  EXPECT_EQ(value.type, RegType::Dword);

  EXPECT_EQ(reg.DeleteValue("K", "chars"), RegStatus::Ok);
  EXPECT_EQ(reg.ReadValue("K", "chars", value), RegStatus::NotFound);
  EXPECT_EQ(reg.DeleteValue("K", "chars"), RegStatus::NotFound);

  reg.SetFailing(true);
  EXPECT_EQ(reg.ReadValue("K", "number", value), RegStatus::Failed);
  EXPECT_EQ(reg.WriteValue("K", "x", RegValue::Text("y")), RegStatus::Failed);
  EXPECT_EQ(reg.KeyExists("K"), RegStatus::Failed);
  reg.SetFailing(false);
  EXPECT_EQ(reg.ReadValue("K", "x", value), RegStatus::NotFound) << "a failed write left nothing";
}

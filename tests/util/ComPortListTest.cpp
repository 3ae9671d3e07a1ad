#include <gtest/gtest.h>

#include "platform/MachineRegistry.h"
#include "platform/MemoryRegistry.h"
#include "util/ComPortList.h"

using namespace platform;

namespace {

const std::string kUart = kUartKey;
const std::string kMap = kSerialCommKey;

}  // namespace

TEST(GetComPortList, SerialMapOnlyInValueOrder) {
  MemoryRegistry reg;
  reg.WriteValue(kMap, "\\Device\\Serial1", RegValue::Text("COM3"));
  reg.WriteValue(kMap, "\\Device\\Serial0", RegValue::Text("COM1"));
  EXPECT_EQ(GetComPortList(reg), (std::vector<std::string>{"COM3", "COM1"}));
}

TEST(GetComPortList, FirstSourceFirstAndDuplicatesOnceIgnoringCase) {
  MemoryRegistry reg;
  reg.WriteValue(kUart + "\\00", "PortName", RegValue::Text("COM1"));
  reg.WriteValue(kUart + "\\01", "PortName", RegValue::Text("COM2"));
  reg.WriteValue(kMap, "\\Device\\Serial0", RegValue::Text("com1"));
  reg.WriteValue(kMap, "\\Device\\VCP0", RegValue::Text("COM7"));
  reg.WriteValue(kMap, "\\Device\\Serial1", RegValue::Text("COM2"));
  EXPECT_EQ(GetComPortList(reg), (std::vector<std::string>{"COM1", "COM2", "COM7"}));
}

TEST(GetComPortList, NonStringsMissingValuesAndEmptyStrings) {
  MemoryRegistry reg;
  reg.CreateKey(kUart + "\\00");  // no PortName
  reg.WriteValue(kUart + "\\01", "PortName", RegValue{RegType::ExpandString, "COM4"});
  reg.WriteValue(kUart + "\\02", "PortName", RegValue::Text("COM5"));
  reg.WriteValue(kMap, "a", RegValue{RegType::Dword, std::string("\1\0\0\0", 4)});
  reg.WriteValue(kMap, "b", RegValue::Text(""));
  reg.WriteValue(kMap, "c", RegValue::Text(""));
  reg.WriteValue(kMap, "d", RegValue{RegType::Binary, "COM9"});
  EXPECT_EQ(GetComPortList(reg), (std::vector<std::string>{"COM5", ""}));
}

TEST(GetComPortList, NeitherKeyOrUnreadableStoreGivesEmptyList) {
  MemoryRegistry reg;
  EXPECT_TRUE(GetComPortList(reg).empty());
  reg.WriteValue(kMap, "x", RegValue::Text("COM1"));
  reg.SetFailing(true);
  EXPECT_TRUE(GetComPortList(reg).empty());
}

// Settings persistence of the serial component: the 27 values through a store, defaults,
// reading order, which values act, and the failures (the file store's own cases are in
// TDaVevureRezSettingsFileStoreTest.cpp).
#include "tests/serial/SerialSettingsFixture.h"

TEST_F(SerialSettings, EveryValueSurvivesTheMemoryStore) {
  platform::MemoryRegistry store;
  RoundTrip(store, store);
}

TEST_F(SerialSettings, MissingSubkeyGivesEveryDefaultClosesThePortAndReportsSuccess) {
  platform::MemoryRegistry store;
  SetEverything();
  com->SetRegistry(&store);
  auto port = Open("ttyUSB7");
  reports.clear();
  com->ReadSettings(kRegkey, kSubKey);
  Settings expected = kDefaults;
  expected.RTSState = expected.DTRState = false;  // the closing lowers them
  EXPECT_EQ(Of(*com), expected);
  EXPECT_EQ(port->CountCalls("CloseHandle"), 1);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front().place, 0x1131u) << "the closing comes first";
  EXPECT_EQ(reports.back().place, 0x1211u);
  EXPECT_EQ(store.WriteCount(), 0) << "reading writes nothing";
}

TEST_F(SerialSettings, TextsThatAreNoNumbersAndNumbersBeyondTheFieldsTypeGiveTheDefault) {
  platform::MemoryRegistry store;
  auto put = [&](const char* name, std::string text) {
    store.WriteValue(kKey, name, RegValue::Text(std::move(text)));
  };
  put("ComPort", "");
  put("BaudRate", "fast");
  put("DataBits", "300");  // beyond the byte: once cut to 44
  put("XONLimDiv", "150");  // straight into the field: no 100 limit, no warning
  put("ParityErrorChar", "");
  put("XONChar", "AB");
  put("XOFFChar", "€");  // not an 8-bit character
  put("XTOAuto", "x");
  put("RTSState", "2");
  put("DTRState", "0");
  put("StripNullChars", "");
  put("ErrorNoise", "$FF");  // hexadecimal is no stored number: once 255
  put("StopBits", "+1");
  put("RxQueueSize", "-1");  // unsigned: once 4294967295
  put("ClusterSize", "4294967295");
  put("FlowControl", "-2147483648");
  com->SetRegistry(&store);
  com->SetParityErrorChar('x');
  com->SetXTOAuto(false);
  com->SetStripNullChars(true);
  com->ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(com->ComPort(), "") << "an empty stored name stays empty";
  EXPECT_EQ(com->BaudRate(), 9600u);
  EXPECT_EQ(com->DataBits(), 8);
  EXPECT_EQ(com->XONLimDiv(), 150);
  EXPECT_EQ(com->ParityErrorChar(), '\0');
  EXPECT_EQ(com->XONChar(), 'A');
  EXPECT_EQ(com->XOFFChar(), '?');
  EXPECT_TRUE(com->XTOAuto());
  EXPECT_TRUE(com->RTSState());
  EXPECT_FALSE(com->DTRState());
  EXPECT_FALSE(com->StripNullChars());
  EXPECT_EQ(com->ErrorNoise(), 2);
  EXPECT_EQ(com->StopBits(), 0);
  EXPECT_EQ(com->RxQueueSize(), 4096u);
  EXPECT_EQ(com->ClusterSize(), 4294967295u);
  EXPECT_EQ(com->FlowControl(), INT32_MIN);
  EXPECT_EQ(Reported(), (std::vector<std::uint32_t>{0x1211}));
}

TEST_F(SerialSettings, OnlyParityErrorCharAndActiveAct) {
  platform::MemoryRegistry store;
  com->SetRegistry(&store);
  auto port = Open();
  com->SetErrorNoise(2);
  com->WriteSettings(kRegkey, kSubKey);
  // Unchanged settings on an open port: it stays open, nothing is reapplied.
  port->ClearCalls();
  reports.clear();
  com->ReadSettings(kRegkey, kSubKey);
  EXPECT_TRUE(com->Active());
  EXPECT_TRUE(port->MainCalls().empty());
  EXPECT_EQ(Reported(), (std::vector<std::uint32_t>{0x1211}));

  // A new port name, baud rate and queue size wait for the next opening; a new parity
  // error character is applied at once, with the fields as loaded before it.
  store.WriteValue(kKey, "ComPort", RegValue::Text("ttyOther"));
  store.WriteValue(kKey, "BaudRate", RegValue::Text("19200"));
  store.WriteValue(kKey, "ParityType", RegValue::Text("2"));
  store.WriteValue(kKey, "RxQueueSize", RegValue::Text("100"));
  store.WriteValue(kKey, "XONLimDiv", RegValue::Text("200"));
  com->ReadSettings(kRegkey, kSubKey);
  EXPECT_TRUE(port->MainCalls().empty());
  EXPECT_EQ(com->ComPort(), "ttyOther");
  EXPECT_EQ(com->BaudRate(), 19200u);
  EXPECT_EQ(com->RTOCharDelayTime(), 1100u) << "no XTODefault";

  store.WriteValue(kKey, "ParityErrorChar", RegValue::Text("#"));
  com->ReadSettings(kRegkey, kSubKey);
  ASSERT_EQ(port->CountCalls("SetCommState"), 1);
  EXPECT_EQ(port->CountCalls("SetupComm"), 0);
  EXPECT_TRUE(com->Active());
  EXPECT_EQ(port->LastDcb().BaudRate, 19200u);
  EXPECT_EQ(port->LastDcb().Parity, 2);
  EXPECT_EQ(port->LastDcb().ErrorChar, '#');
  EXPECT_EQ(ports.Opened().size(), 1u) << "the new name did not reopen";

  // Active "0" closes through the setter.
  store.WriteValue(kKey, "Active", RegValue::Text("0"));
  com->ReadSettings(kRegkey, kSubKey);
  EXPECT_FALSE(com->Active());
}

TEST_F(SerialSettings, ValueOfAnotherTypeStopsTheReadingThere) {
  platform::MemoryRegistry store;
  com->SetRegistry(&store);
  com->SetErrorNoise(0);
  SetEverything();
  com->WriteSettings(kRegkey, kSubKey);
  const Settings before = Of(*com);

  std::vector<serial_test::Report> read_reports;
  auto fresh = Fresh(read_reports);
  fresh->SetRegistry(&store);
  fresh->SetErrorNoise(0);
  store.WriteValue(kKey, "DataBits", RegValue{RegType::Dword, std::string("\x07\0\0\0", 4)});
  fresh->ReadSettings(kRegkey, kSubKey);
  const Settings after = Of(*fresh);
  // "ComPort" to "StopBits" are applied, everything from "DataBits" on is as it was.
  EXPECT_EQ(after.ComPort, before.ComPort);
  EXPECT_EQ(after.BaudRate, before.BaudRate);
  EXPECT_EQ(after.ParityType, before.ParityType);
  EXPECT_EQ(after.ParityErrorChar, before.ParityErrorChar);
  EXPECT_EQ(after.ParityErrorReplacement, before.ParityErrorReplacement);
  EXPECT_EQ(after.StopBits, before.StopBits);
  EXPECT_EQ(after.DataBits, 8);
  EXPECT_EQ(after.XOFFChar, 13);
  EXPECT_EQ(after.FlowControl, 0);
  EXPECT_EQ(after.ErrorNoise, 0);
  ASSERT_EQ(read_reports.size(), 1u);
  EXPECT_EQ(read_reports[0].place, 0x1212u);
  EXPECT_EQ(read_reports[0].msg, "Fehler: Laden der Einstellungen");
  EXPECT_EQ(read_reports[0].noise, 0);
  EXPECT_EQ(read_reports[0].code, 0u);
}

TEST_F(SerialSettings, FailingStoreStopsTheWritingAndKeepsWhatWasWritten) {
  settings_test::FailingAfter store(3);
  com->SetRegistry(&store);
  com->SetErrorNoise(0);
  com->WriteSettings(kRegkey, kSubKey);
  ASSERT_EQ(Reported(), (std::vector<std::uint32_t>{0x1202}));
  EXPECT_EQ(reports[0].msg, "Fehler: beim Speichern der Einstellungen");
  EXPECT_EQ(Stored(store.tree, kKey, "ParityType"), "0");
  EXPECT_EQ(Stored(store.tree, kKey, "ParityErrorChar"), "<missing>");
}

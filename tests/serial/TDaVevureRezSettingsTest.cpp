// Settings persistence of the serial component: the 27 values through the file store and
// the in-memory store, defaults, reading order, which values act, and every failure.
#include <gtest/gtest.h>

#include "tests/serial/FakePortFixture.h"
#include "tests/support/SettingsStores.h"

using platform::RegType;
using platform::RegValue;
using settings_test::Stored;

namespace {

constexpr const char* kRegkey = "Software\\Quenzhal";
constexpr const char* kSubKey = "DaVevureRezDefaultSettings";
constexpr const char* kKey = "Software\\Quenzhal\\DaVevureRezDefaultSettings";

// Every setting of one component, to compare two of them.
struct Settings {
  ByteString ComPort;
  std::uint32_t BaudRate;
  int ParityType, ParityErrorChar;
  bool ParityErrorReplacement;
  int StopBits, DataBits, XONChar, XOFFChar, XONLimDiv, XOFFLimDiv;
  std::int32_t FlowControl;
  bool StripNullChars;
  int EventChar;
  std::uint32_t RTOCharDelayTime, RTOExtraDelayTime, ClusterSize, RxQueueSize, TxQueueSize,
      WTOCharDelayTime, WTOExtraDelayTime;
  bool XTOAuto, RTSState, DTRState, BREAKState;
  int ErrorNoise;
  bool Active;
  bool operator==(const Settings&) const = default;
};

Settings Of(const TDaVevureRez& c) {
  auto u = [](char ch) { return static_cast<int>(static_cast<unsigned char>(ch)); };
  return {c.ComPort(),
          c.BaudRate(),
          c.ParityType(),
          u(c.ParityErrorChar()),
          c.ParityErrorReplacement(),
          c.StopBits(),
          c.DataBits(),
          u(c.XONChar()),
          u(c.XOFFChar()),
          c.XONLimDiv(),
          c.XOFFLimDiv(),
          c.FlowControl(),
          c.StripNullChars(),
          u(c.EventChar()),
          c.RTOCharDelayTime(),
          c.RTOExtraDelayTime(),
          c.ClusterSize(),
          c.RxQueueSize(),
          c.TxQueueSize(),
          c.WTOCharDelayTime(),
          c.WTOExtraDelayTime(),
          c.XTOAuto(),
          c.RTSState(),
          c.DTRState(),
          c.BREAKState(),
          c.ErrorNoise(),
          c.Active()};
}

const Settings kDefaults{"COM2", 9600, 0,   0,     false, 0,    8,     11,   13,
                         33,     33,   0,   false, 0,     1100, 250,   3072, 4096,
                         4096,   1100, 250, true,  true,  true, false, 2,    false};

class SerialSettings : public serial_test::FakePortFixture {
 protected:
  // A second component on the same fake ports, with its own report list.
  std::unique_ptr<TDaVevureRez> Fresh(std::vector<serial_test::Report>& into) {
    auto c = std::make_unique<TDaVevureRez>(&owner, loop, ports);
    c->OnProcessError = [&into](TObject* sender, std::uint32_t place, std::uint32_t code,
                                const ByteString& msg, std::uint8_t noise) {
      into.push_back({sender, place, code, msg, noise});
    };
    return c;
  }

  // Gives `com` a value other than the default in every setting but Active; the modem
  // outputs only move on an open port, so the port is opened and closed for them.
  void SetEverything() {
    auto port = Open("ttyUSB7");
    com->SetBREAKState(true);
    com->SetActive(false);  // RTS and DTR fall with the closing
    com->SetXTOAuto(false);
    com->SetComPort("/dev/serial/by-id/usb-Prüfgerät");
    com->SetBaudRate(4000000000u);  // above the signed 32-bit range
    com->SetParityType(3);
    com->SetParityErrorChar('\xff');
    com->SetParityErrorReplacement(true);
    com->SetStopBits(2);
    com->SetDataBits(7);
    com->SetXONChar('\0');
    com->SetXOFFChar('\x0b');
    com->SetXONLimDiv(90);
    com->SetXOFFLimDiv(10);
    com->SetFlowControl(-5);
    com->SetStripNullChars(true);
    com->SetEventChar('\xe4');
    com->SetRTOCharDelayTime(760);
    com->SetRTOExtraDelayTime(123);
    com->SetClusterSize(17);
    com->SetRxQueueSize(8192);
    com->SetTxQueueSize(1024);
    com->SetWTOCharDelayTime(95);
    com->SetWTOExtraDelayTime(4321);
    com->SetErrorNoise(3);
    reports.clear();
  }

  // Writes every setting and reads it into a fresh component.
  void RoundTrip(platform::Registry& writer, platform::Registry& reader) {
    SetEverything();
    const Settings written = Of(*com);
    ASSERT_NE(written, kDefaults);
    com->SetRegistry(&writer);
    com->WriteSettings(kRegkey, kSubKey);
    EXPECT_EQ(Reported(), (std::vector<std::uint32_t>{0x1201}));
    EXPECT_EQ(reports[0].msg, "Meldung: Einstellungen gespeichert");
    EXPECT_EQ(reports[0].noise, 2);

    std::vector<serial_test::Report> read_reports;
    auto fresh = Fresh(read_reports);
    fresh->SetRegistry(&reader);
    fresh->ReadSettings(kRegkey, kSubKey);
    EXPECT_EQ(Of(*fresh), written);
    ASSERT_EQ(read_reports.size(), 1u);
    EXPECT_EQ(read_reports[0].place, 0x1211u);
    EXPECT_EQ(read_reports[0].msg, "Meldung: Einstellungen geladen");
    EXPECT_TRUE(ports.Opened().size() == 1) << "reading Active false opens nothing";
  }
};

}  // namespace

TEST_F(SerialSettings, EveryValueSurvivesTheFileStoreAsText) {
  settings_test::ScratchStore scratch;
  platform::FileRegistry writer(scratch.Path());
  platform::FileRegistry reader(scratch.Path());  // as a later run of the program
  RoundTrip(writer, reader);

  // The texts as they stand in the store: decimal, flags, characters as one character.
  EXPECT_EQ(Stored(reader, kKey, "ComPort"), "/dev/serial/by-id/usb-Prüfgerät");
  EXPECT_EQ(Stored(reader, kKey, "BaudRate"), "4000000000");
  EXPECT_EQ(Stored(reader, kKey, "FlowControl"), "-5");
  EXPECT_EQ(Stored(reader, kKey, "ParityErrorReplacement"), "1");
  EXPECT_EQ(Stored(reader, kKey, "XTOAuto"), "0");
  EXPECT_EQ(Stored(reader, kKey, "XONChar"), std::string(1, '\0'));
  EXPECT_EQ(Stored(reader, kKey, "XOFFChar"), "\x0b");
  EXPECT_EQ(Stored(reader, kKey, "ParityErrorChar"), "ÿ");
  EXPECT_EQ(Stored(reader, kKey, "EventChar"), "ä");
  std::vector<std::string> names;
  reader.ValueNames(kKey, names);
  EXPECT_EQ(names, (std::vector<std::string>{"ComPort",
                                             "BaudRate",
                                             "ParityType",
                                             "ParityErrorChar",
                                             "ParityErrorReplacement",
                                             "StopBits",
                                             "DataBits",
                                             "XONChar",
                                             "XOFFChar",
                                             "XONLimDiv",
                                             "XOFFLimDiv",
                                             "FlowControl",
                                             "StripNullChars",
                                             "EventChar",
                                             "RTOCharDelayTime",
                                             "RTOExtraDelayTime",
                                             "ClusterSize",
                                             "RxQueueSize",
                                             "TxQueueSize",
                                             "WTOCharDelayTime",
                                             "WTOExtraDelayTime",
                                             "XTOAuto",
                                             "RTSState",
                                             "DTRState",
                                             "BREAKState",
                                             "ErrorNoise",
                                             "Active"}));
  // The file is readable text: the character 11 is escaped, 255 is UTF-8.
  EXPECT_NE(scratch.Text().find("\"XOFFChar\"=sz:\"\\x0b\""), std::string::npos);
  EXPECT_NE(scratch.Text().find("\"ParityErrorChar\"=sz:\"ÿ\""), std::string::npos);
}

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

TEST_F(SerialSettings, DamagedOrUnreadableStoreGivesTheFailureReports) {
  settings_test::ScratchStore scratch;
  scratch.SetText("[Software\\Quenzhal\\DaVevureRezDefaultSettings]\n\"BaudRate\"=sz:\"19200\n");
  platform::FileRegistry store(scratch.Path());
  com->SetRegistry(&store);
  com->SetErrorNoise(0);
  com->ReadSettings(kRegkey, kSubKey);
  com->WriteSettings(kRegkey, kSubKey);
  EXPECT_EQ(Reported(), (std::vector<std::uint32_t>{0x1212, 0x1202}));
  EXPECT_EQ(com->BaudRate(), 9600u);
  EXPECT_EQ(com->ErrorNoise(), 0);
  EXPECT_NE(scratch.Text().find("19200"), std::string::npos) << "the damaged file is kept";

  // A folder where the file should be cannot be read.
  platform::FileRegistry folder(std::filesystem::path(scratch.Path()).parent_path().string());
  com->SetRegistry(&folder);
  reports.clear();
  com->ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(Reported(), (std::vector<std::uint32_t>{0x1212}));
}

TEST_F(SerialSettings, ValuesOfAnotherTypeInTheFileStoreAreNoText) {
  settings_test::ScratchStore scratch;
  scratch.SetText(
      "[Software\\Quenzhal\\DaVevureRezDefaultSettings]\n"
      "\"ComPort\"=sz:\"ttyACM0\"\n"
      "\"BaudRate\"=dword:00,c2,01,00\n");
  platform::FileRegistry store(scratch.Path());
  com->SetRegistry(&store);
  com->SetErrorNoise(0);
  com->ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(com->ComPort(), "ttyACM0");
  EXPECT_EQ(com->BaudRate(), 9600u);
  EXPECT_EQ(Reported(), (std::vector<std::uint32_t>{0x1212}));
}

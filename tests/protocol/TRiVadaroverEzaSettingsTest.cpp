// Settings persistence of the protocol component: the five values through the file store
// and the in-memory store, defaults, switching while loading and the failure reports.
#include "tests/protocol/KomponentenFixture.h"
#include "tests/support/SettingsStores.h"

using platform::RegType;
using platform::RegValue;
using settings_test::Stored;

namespace {

constexpr const char* kRegkey = "Software\\Quenzhal";
constexpr const char* kSubKey = "RiVadaroverEzaDefaultSettings";
constexpr const char* kKey = "Software\\Quenzhal\\RiVadaroverEzaDefaultSettings";

class ProtocolSettings : public Komponente {
 protected:
  void RoundTrip(platform::Registry& writer, platform::Registry& reader) {
    Start(TProtokoll::p3964R, 2500);
    p.SetP3964RPBlockModeSendRequest(true);
    p.SetRegistry(&writer);
    p.WriteSettings(kRegkey, kSubKey);
    EXPECT_EQ(Events(), "") << "success is not reported";

    p.SetProtokoll(TProtokoll::pNone);
    p.SetWaitForAnswer3964R(7);
    p.SetP3964RPBlockModeSendRequest(false);
    ASSERT_FALSE(p.Active());
    p.SetRegistry(&reader);
    p.ReadSettings(kRegkey, kSubKey);
    EXPECT_EQ(p.Verbindung(), TVerbindungsTyp::vbtModem);
    EXPECT_EQ(p.Protokoll(), TProtokoll::p3964R);
    EXPECT_EQ(p.WaitForAnswer3964R(), 2500);
    EXPECT_TRUE(p.P3964RPBlockModeSendRequest());
    EXPECT_TRUE(p.Active());
    EXPECT_TRUE(p.Connected());
    EXPECT_EQ(Events(), "");
  }
};

}  // namespace

TEST_F(ProtocolSettings, FiveValuesSurviveTheFileStoreInOrder) {
  settings_test::ScratchStore scratch;
  platform::FileRegistry writer(scratch.Path());
  platform::FileRegistry reader(scratch.Path());
  RoundTrip(writer, reader);
  std::vector<std::string> names;
  reader.ValueNames(kKey, names);
  EXPECT_EQ(names, (std::vector<std::string>{"Verbindungstyp", "Protokoll", "WaitForAnswer3964R",
                                             "BlockModeSendRequest3964RPlus", "Active"}));
  EXPECT_EQ(Stored(reader, kKey, "Protokoll"), "1");
  EXPECT_EQ(Stored(reader, kKey, "WaitForAnswer3964R"), "2500");
  EXPECT_EQ(Stored(reader, kKey, "BlockModeSendRequest3964RPlus"), "1");
  EXPECT_EQ(Stored(reader, kKey, "Active"), "1");
}

TEST_F(ProtocolSettings, FiveValuesSurviveTheMemoryStore) {
  platform::MemoryRegistry store;
  RoundTrip(store, store);
}

TEST_F(ProtocolSettings, MissingSubkeyGivesTheDefaultsAndSwitchesOff) {
  platform::MemoryRegistry store;
  Start(TProtokoll::pNone, 300);
  p.SetP3964RPBlockModeSendRequest(true);
  p.SetRegistry(&store);
  p.ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(p.Verbindung(), TVerbindungsTyp::vbtModem);
  EXPECT_EQ(p.Protokoll(), TProtokoll::p3964RPlus);
  EXPECT_EQ(p.WaitForAnswer3964R(), 1000);
  EXPECT_FALSE(p.P3964RPBlockModeSendRequest());
  EXPECT_FALSE(p.Active());
  EXPECT_FALSE(line.Active());
  EXPECT_EQ(Events(), "");
}

TEST_F(ProtocolSettings, ActiveLoadsOffThenOnAndNumbersOutsideTheListAreKept) {
  platform::MemoryRegistry store;
  store.WriteValue(kKey, "Protokoll", RegValue::Text("7"));
  store.WriteValue(kKey, "Active", RegValue::Text("1"));
  Start(TProtokoll::p3964RPlus);
  int disconnects = 0;
  p.OnModemDisconnectEvent = [&](TObject*) { ++disconnects; };
  p.SetRegistry(&store);
  p.ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(static_cast<int>(p.Protokoll()), 7);
  EXPECT_EQ(disconnects, 1) << "the new protocol switched the line off";
  EXPECT_TRUE(p.Active());
  EXPECT_TRUE(line.Active());
}

TEST_F(ProtocolSettings, ValueOfAnotherTypeStopsTheLoadingWithTheFailureReport) {
  platform::MemoryRegistry store;
  store.WriteValue(kKey, "Protokoll", RegValue::Text("0"));
  store.WriteValue(kKey, "WaitForAnswer3964R", RegValue{RegType::Dword, std::string(4, '\0')});
  store.WriteValue(kKey, "BlockModeSendRequest3964RPlus", RegValue::Text("1"));
  Start(TProtokoll::p3964R, 1500);
  p.SetRegistry(&store);
  p.ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(p.Protokoll(), TProtokoll::pNone) << "applied before the failure";
  EXPECT_FALSE(p.Active()) << "the new protocol switched it off";
  EXPECT_EQ(p.WaitForAnswer3964R(), 1500);
  EXPECT_FALSE(p.P3964RPBlockModeSendRequest());
  EXPECT_EQ(Events(), "abort 3022/0/0 Fehler beim Laden der Einstellungen");
}

TEST_F(ProtocolSettings, FailingOrDamagedStoreGivesTheFailureReports) {
  settings_test::FailingAfter failing(2);
  p.SetRegistry(&failing);
  p.WriteSettings(kRegkey, kSubKey);
  EXPECT_EQ(Events(), "abort 3012/0/0 Fehler beim Speichern der Einstellungen");
  EXPECT_EQ(Stored(failing.tree, kKey, "Protokoll"), "0");
  EXPECT_EQ(Stored(failing.tree, kKey, "WaitForAnswer3964R"), "<missing>");

  settings_test::ScratchStore scratch;
  scratch.SetText("[Software\\Quenzhal\n");
  platform::FileRegistry damaged(scratch.Path());
  p.SetRegistry(&damaged);
  p.SetProtokoll(TProtokoll::p3964R);
  p.ReadSettings(kRegkey, kSubKey);
  p.WriteSettings(kRegkey, kSubKey);
  // Both reports name the file and the damaged line.
  const std::string damage = scratch.Path() + ", Zeile 1, ist beschädigt";
  const std::string seen = Events();
  EXPECT_TRUE(seen.starts_with("abort 3022/0/0 Fehler beim Laden der Einstellungen: " + damage))
      << seen;
  EXPECT_NE(seen.find("; abort 3012/0/0 Fehler beim Speichern der Einstellungen: " + damage),
            std::string::npos)
      << seen;
  EXPECT_EQ(p.Protokoll(), TProtokoll::p3964R);
  EXPECT_EQ(scratch.Text(), "[Software\\Quenzhal\n");
}

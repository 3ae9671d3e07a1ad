// Settings persistence of the protocol component: the five values through a store,
// defaults, switching while loading and the failure reports (the file store's own cases
// are in TRiVadaroverEzaSettingsFileStoreTest.cpp).
#include "tests/protocol/ProtocolSettingsFixture.h"

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

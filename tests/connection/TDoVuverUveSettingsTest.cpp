// Settings persistence of the connection component: the ten values through a store,
// switching while loading, defaults and the failure reports (the file store's own cases
// are in TDoVuverUveSettingsFileStoreTest.cpp).
#include "tests/connection/ConnectionSettingsFixture.h"

TEST_F(ConnectionSettings, EveryValueSurvivesTheMemoryStore) {
  platform::MemoryRegistry store;
  RoundTrip(store, store);
}

TEST_F(ConnectionSettings, LoadingSwitchesAnOpenLineOffAndOnAgainAsStored) {
  platform::MemoryRegistry store;
  line->SetRegistry(&store);
  Connect();
  line->WriteSettings(kRegkey, kSubKey);
  EXPECT_EQ(Stored(store, kKey, "Active"), "1");
  events.clear();
  ports.Add(platform::DevicePath("COM2"));
  line->ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(events, (Strings{"Disconnect", "Connect"}));
  EXPECT_TRUE(line->Connected());
  EXPECT_EQ(line->ProtokollListe.back(),
            Message("Verbindung Direkt:", "2061", "Meldung Einstellungen geladen"));
  Settle(*ports.Port(platform::DevicePath("COM2")));
}

TEST_F(ConnectionSettings, MissingSubkeyGivesEveryDefaultLeavesTheLineOffAndReportsSuccess) {
  platform::MemoryRegistry store;
  line->SetRegistry(&store);
  Connect();
  SetEverything(*line);  // the modem type switches the line off
  line->SetAnschlussTyp(TAnschlussTyp::astDirekt);
  Connect();
  events.clear();
  line->ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(Of(*line), (Settings{0, 0, 0, 0, "", "", 10000, 0, false, true}));
  EXPECT_FALSE(line->Connected());
  EXPECT_FALSE(com->Active());
  EXPECT_EQ(events, (Strings{"Disconnect"})) << "no failure is raised";
  EXPECT_EQ(line->ProtokollListe.back(),
            Message("Verbindung Direkt:", "2061", "Meldung Einstellungen geladen"));
}

TEST_F(ConnectionSettings, ValueOfAnotherTypeStopsTheLoadingWithTheFailureReport) {
  platform::MemoryRegistry store;
  line->SetRegistry(&store);
  store.WriteValue(kKey, "PCSchnittstelle", RegValue::Text("0"));
  store.WriteValue(kKey, "AnschlussTyp", RegValue::Text("1"));
  store.WriteValue(kKey, "Wahlverfahren", RegValue{RegType::Binary, "\x01"});
  store.WriteValue(kKey, "TeleNummer", RegValue::Text("110"));
  Connect();
  events.clear();
  line->ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(line->AnschlussTyp(), TAnschlussTyp::astModem) << "applied before the failure";
  EXPECT_EQ(line->Wahlverfahren(), TWahlverfahren::wvfTon);
  EXPECT_EQ(line->TeleNummer(), "") << "not reached";
  EXPECT_FALSE(line->Connected()) << "the line stays as the applied values left it";
  EXPECT_EQ(events,
            (Strings{"Disconnect", "ErrorTransmit 8290 Fehler beim Laden der Einstellungen 0"}));
  EXPECT_EQ(line->ProtokollListe.back(),
            Message("Verbindung über Modem:", "2062", "Fehler beim Laden der Einstellungen"));
}

TEST_F(ConnectionSettings, StoredConnectionTypeOutsideTheListIsAppliedUnchecked) {
  platform::MemoryRegistry store;
  line->SetRegistry(&store);
  store.WriteValue(kKey, "AnschlussTyp", RegValue::Text("5"));
  store.WriteValue(kKey, "Active", RegValue::Text("1"));
  line->ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(static_cast<int>(line->AnschlussTyp()), 5);
  EXPECT_TRUE(line->Active());
  EXPECT_FALSE(line->Connected());
  EXPECT_FALSE(com->Active()) << "nothing below was switched";
  EXPECT_EQ(line->ProtokollListe.back(),
            Message("Serielle Schnittstelle:", "2061", "Meldung Einstellungen geladen"));
}

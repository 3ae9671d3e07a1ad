// Settings persistence of the connection component in the file store, the Linux store of the
// per-user values: the stored text, and a store that is damaged or cannot be read.
#include <filesystem>

#include "tests/connection/ConnectionSettingsFixture.h"

namespace {
class ConnectionSettingsFileStore : public ConnectionSettings {};
}  // namespace

TEST_F(ConnectionSettingsFileStore, EveryValueSurvivesTheFileStoreInOrder) {
  settings_test::ScratchStore scratch;
  platform::FileRegistry writer(scratch.Path());
  platform::FileRegistry reader(scratch.Path());
  RoundTrip(writer, reader);
  std::vector<std::string> names;
  reader.ValueNames(kKey, names);
  EXPECT_EQ(names, (Strings{"PCSchnittstelle", "AnschlussTyp", "Wahlverfahren", "RxDCharDelayTime",
                            "TeleNummer", "IniString", "MaxProtokollAnzahl", "TxDWaitSendTime",
                            "Active", "ResetModem"}));
  EXPECT_EQ(Stored(reader, kKey, "AnschlussTyp"), "1");
  EXPECT_EQ(Stored(reader, kKey, "IniString"), "ATX3 Prüfung");
  EXPECT_EQ(Stored(reader, kKey, "ResetModem"), "0");
}

TEST_F(ConnectionSettingsFileStore, FailingOrDamagedStoreGivesTheFailureReports) {
  settings_test::FailingAfter failing(4);
  line->SetRegistry(&failing);
  line->SetTeleNummer("112");
  line->WriteSettings(kRegkey, kSubKey);
  EXPECT_EQ(Stored(failing.tree, kKey, "RxDCharDelayTime"), "250");
  EXPECT_EQ(Stored(failing.tree, kKey, "TeleNummer"), "<missing>");
  EXPECT_EQ(events, (Strings{"ErrorTransmit 8274 Fehler beim Speichern der Einstellungen 0"}));
  EXPECT_EQ(line->ProtokollListe.back(),
            Message("Verbindung Direkt:", "2052", "Fehler beim Speichern der Einstellungen"));

  settings_test::ScratchStore scratch;
  scratch.SetText("this is no settings file\n");
  platform::FileRegistry damaged(scratch.Path());
  line->SetRegistry(&damaged);
  events.clear();
  line->ReadSettings(kRegkey, kSubKey);
  line->WriteSettings(kRegkey, kSubKey);
  // Both reports name the file and the damaged line.
  const std::string damage = ": " + scratch.Path() + ", Zeile 1, ist beschädigt";
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[0].starts_with("ErrorTransmit 8290 Fehler beim Laden der Einstellungen" + damage))
      << events[0];
  EXPECT_TRUE(
      events[1].starts_with("ErrorTransmit 8274 Fehler beim Speichern der Einstellungen" + damage))
      << events[1];
  EXPECT_EQ(line->TeleNummer(), "112");
  EXPECT_EQ(scratch.Text(), "this is no settings file\n");
}

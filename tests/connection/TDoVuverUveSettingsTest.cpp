// Settings persistence of the connection component: the ten values through the file store
// and the in-memory store, switching while loading, defaults and the failure reports.
#include <gtest/gtest.h>

#include "connection/TDoVuverUve.h"
#include "tests/serial/FakePortFixture.h"
#include "tests/support/SettingsStores.h"

using platform::RegType;
using platform::RegValue;
using settings_test::Stored;
using Strings = std::vector<std::string>;

namespace {

constexpr const char* kRegkey = "Software\\Quenzhal";
constexpr const char* kSubKey = "DoVuverUveDefaultSettings";
constexpr const char* kKey = "Software\\Quenzhal\\DoVuverUveDefaultSettings";
constexpr const char* kStamp = "08.12.20 13:45:01.123";

struct Settings {
  int PCSchnittstelle, AnschlussTyp, Wahlverfahren;
  std::int32_t RxDCharTime;
  ByteString TeleNummer, IniString;
  std::int32_t MaxProtokollAnzahl, TxDWaitSendTime;
  bool Active, ResetModem;
  bool operator==(const Settings&) const = default;
};

Settings Of(const TDoVuverUve& l) {
  return {static_cast<int>(l.PCSchnittstelle()),
          static_cast<int>(l.AnschlussTyp()),
          static_cast<int>(l.Wahlverfahren()),
          l.RxDCharTime(),
          l.TeleNummer(),
          l.IniString(),
          l.MaxProtokollAnzahl(),
          l.TxDWaitSendTime(),
          l.Active(),
          l.ResetModem()};
}

std::string Message(const std::string& header, const std::string& place, const std::string& text) {
  return header + "Meldung   -" + kStamp + " :Fehler 0 Ort " + place + " Text: " + text;
}

class ConnectionSettings : public serial_test::FakePortFixture {
 protected:
  void SetUp() override {
    FakePortFixture::SetUp();
    com->SetErrorNoise(0);
    line = Make();
  }
  void TearDown() override {
    line.reset();
    FakePortFixture::TearDown();
  }

  std::unique_ptr<TDoVuverUve> Make() {
    auto l = std::make_unique<TDoVuverUve>(&owner, loop);
    l->Clock = [] { return platform::LocalDateTime{2020, 12, 8, 13, 45, 1, 123}; };
    l->SetDaVevureRez(com.get());
    l->OnConnectEvent = [this](TObject*) { events.push_back("Connect"); };
    l->OnDisconnectEvent = [this](TObject*) { events.push_back("Disconnect"); };
    l->OnErrorTransmitEvent = [this](TObject*, std::uint32_t place, std::uint32_t,
                                     const ByteString& msg, std::uint8_t noise) {
      events.push_back("ErrorTransmit " + std::to_string(place) + " " + msg + " " +
                       std::to_string(noise));
    };
    return l;
  }

  void Connect() {
    auto port = ports.Add("/dev/COM2");
    line->SetActive(true);
    ASSERT_TRUE(line->Connected());
    Settle(*port);
  }

  void SetEverything(TDoVuverUve& l) {
    l.SetAnschlussTyp(TAnschlussTyp::astModem);
    l.SetWahlverfahren(TWahlverfahren::wvfImpuls);
    l.SetRxDCharTime(77);
    l.SetTeleNummer("0,030 123-4");
    l.SetIniString("ATX3 Prüfung");
    l.SetMaxProtokollAnzahl(42);
    l.SetTxDWaitSendTime(15);
    l.SetResetModem(false);
  }

  void RoundTrip(platform::Registry& writer, platform::Registry& reader) {
    SetEverything(*line);
    line->SetRegistry(&writer);
    line->WriteSettings(kRegkey, kSubKey);
    EXPECT_EQ(line->ProtokollListe.back(),
              Message("Verbindung über Modem:", "2051", "Meldung Einstellungen gespeichert"));

    auto fresh = Make();
    fresh->SetHearForConnect(false);
    fresh->SetAutoConnect(true);
    fresh->SetRegistry(&reader);
    fresh->ReadSettings(kRegkey, kSubKey);
    EXPECT_EQ(Of(*fresh), Of(*line));
    EXPECT_FALSE(fresh->HearForConnect()) << "not stored, kept";
    EXPECT_TRUE(fresh->AutoConnect()) << "not stored, kept";
    EXPECT_EQ(fresh->ProtokollListe.back(),
              Message("Verbindung über Modem:", "2061", "Meldung Einstellungen geladen"));
    EXPECT_TRUE(events.empty()) << ::testing::PrintToString(events);
  }

  std::unique_ptr<TDoVuverUve> line;
};

}  // namespace

TEST_F(ConnectionSettings, EveryValueSurvivesTheFileStoreInOrder) {
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
  ports.Add("/dev/COM2");
  line->ReadSettings(kRegkey, kSubKey);
  EXPECT_EQ(events, (Strings{"Disconnect", "Connect"}));
  EXPECT_TRUE(line->Connected());
  EXPECT_EQ(line->ProtokollListe.back(),
            Message("Verbindung Direkt:", "2061", "Meldung Einstellungen geladen"));
  Settle(*ports.Port("/dev/COM2"));
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

TEST_F(ConnectionSettings, FailingOrDamagedStoreGivesTheFailureReports) {
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

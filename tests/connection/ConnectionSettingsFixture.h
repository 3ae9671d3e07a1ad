// The fixture of the settings tests of the connection component: the store-independent cases and
// the file store's own (TDoVuverUveSettingsFileStoreTest.cpp).
#pragma once

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

inline Settings Of(const TDoVuverUve& l) {
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

inline std::string Message(const std::string& header, const std::string& place, const std::string& text) {
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
    auto port = ports.Add(platform::DevicePath("COM2"));
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

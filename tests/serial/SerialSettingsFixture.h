// The fixture of the settings tests of the serial component: the store-independent cases and
// the file store's own (TDaVevureRezSettingsFileStoreTest.cpp).
#pragma once

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

inline Settings Of(const TDaVevureRez& c) {
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

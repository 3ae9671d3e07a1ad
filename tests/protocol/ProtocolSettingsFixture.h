// The fixture of the settings tests of the protocol component: the store-independent cases and
// the file store's own (TRiVadaroverEzaSettingsFileStoreTest.cpp).
#pragma once

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

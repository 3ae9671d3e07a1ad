// The modem connection on the fake comm port: carrier, hang-up and switching off while
// dialling (the pseudo-terminal cases are Linux's, in ModemTest.cpp).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "connection/TDoVuverUve.h"
#include "platform/System.h"
#include "serial/TDaVevureRez.h"
#include "tests/serial/FakePortFixture.h"

using namespace platform::comm;
using Strings = std::vector<std::string>;

namespace {

class ModemOnFakePort : public serial_test::FakePortFixture {
 protected:
  void SetUp() override {
    FakePortFixture::SetUp();
    line = std::make_unique<TDoVuverUve>(&owner, loop);
    line->SetDaVevureRez(com.get());
    line->OnConnectEvent = [this](TObject*) { events.push_back("Connect"); };
    line->OnDisconnectEvent = [this](TObject*) { events.push_back("Disconnect"); };
    line->SetAnschlussTyp(TAnschlussTyp::astModem);
  }
  void TearDown() override {
    line.reset();
    FakePortFixture::TearDown();
  }
  void Carrier(platform::FakeCommPort& port, bool on) {
    port.SetModemStatus(on ? MS_RLSD_ON : 0);
    const int waits = port.WaitCount();
    port.InjectEvents(EV_RLSD);
    ASSERT_TRUE(loop.ServeUntil(
        [&] { return (port.WaitCount() > waits && port.Parked()) || !com->Active(); }, kLimit));
  }
  std::unique_ptr<TDoVuverUve> line;
};

}  // namespace

TEST_F(ModemOnFakePort, CarrierConnectsAndItsLossHangsUp) {
  auto port = ports.Add(platform::DevicePath("COM2"));
  line->SetResetModem(false);
  line->SetWahlverfahren(TWahlverfahren::wvfImpuls);
  line->SetTeleNummer("77");
  line->SetActive(true);
  Settle(*port);
  EXPECT_EQ(port->Written(), "ATDP77\r\n") << "no reset, no init string: only the dial";
  EXPECT_FALSE(line->Connected());

  Carrier(*port, true);
  EXPECT_TRUE(line->Connected());
  EXPECT_EQ(events, (Strings{"Connect"}));
  EXPECT_NE(line->ProtokollListe.back().find("Verbindung über Modem:Meldung   -"),
            std::string::npos);

  Carrier(*port, false);
  EXPECT_FALSE(line->Active());
  EXPECT_FALSE(com->Active());
  EXPECT_EQ(events, (Strings{"Connect", "Disconnect"}));
  EXPECT_EQ(port->Written(), "ATDP77\r\n+++ATH0\r\n");
  EXPECT_EQ(loop.Sleeps(), std::vector<platform::Milliseconds>{platform::Milliseconds(1000)});
}

TEST_F(ModemOnFakePort, SwitchingOffWhileDiallingSendsOnlyTheHangUp) {
  auto port = ports.Add(platform::DevicePath("COM2"));
  line->SetResetModem(false);
  line->SetTeleNummer("");
  line->SetActive(true);
  Settle(*port);
  Carrier(*port, false);  // a loss of carrier while dialling changes nothing
  EXPECT_TRUE(line->Active());
  line->SetActive(false);
  EXPECT_EQ(port->Written(), "ATDT\r\nATH0\r\n");
  EXPECT_EQ(events, (Strings{"Disconnect"}));
}

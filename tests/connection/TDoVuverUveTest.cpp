// The connection component over a real serial component on the fake comm port: switching,
// the send path, the receive queue, relays, reports and the traffic log's exact lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "connection/TDoVuverUve.h"
#include "platform/System.h"
#include "tests/serial/FakePortFixture.h"

using namespace platform::comm;
using platform::FakeCommPort;
using Strings = std::vector<std::string>;

namespace {

constexpr const char* kStamp = "08.12.20 13:45:01.123";

struct Raised {
  std::uint32_t place;
  std::uint32_t code;
  std::string msg;
  std::uint8_t noise;
};

class Connection : public serial_test::FakePortFixture {
 protected:
  void SetUp() override {
    FakePortFixture::SetUp();
    line = std::make_unique<TDoVuverUve>(&owner, loop);
    line->Clock = [] { return platform::LocalDateTime{2020, 12, 8, 13, 45, 1, 123}; };
    line->SetDaVevureRez(com.get());
    com->SetErrorNoise(0);  // the serial component's messages would only add noise here
    auto record = [this](const char* name) {
      return [this, name](TObject*) { events.push_back(name); };
    };
    line->OnConnectEvent = record("Connect");
    line->OnDisconnectEvent = record("Disconnect");
    line->OnDataSendEvent = record("DataSend");
    line->OnDataRecieveEvent = record("DataRecieve");
    line->OnComWriteDone = record("ComWriteDone");
    line->OnComRxClusterEvent = record("ComRxCluster");
    line->OnComProcessError = record("ComProcessError");
    line->OnErrorTransmitEvent = [this](TObject* sender, std::uint32_t place, std::uint32_t code,
                                        const ByteString& msg, std::uint8_t noise) {
      EXPECT_EQ(sender, line.get());
      raised.push_back({place, code, msg, noise});
      events.push_back("ErrorTransmit");
    };
  }

  void TearDown() override {
    line.reset();
    FakePortFixture::TearDown();
  }

  // Switches the direct line on over COM2 and lets the worker come to rest.
  std::shared_ptr<FakeCommPort> Connect() {
    auto port = ports.Add(platform::DevicePath("COM2"));
    line->SetActive(true);
    EXPECT_TRUE(line->Connected());
    Settle(*port);
    return port;
  }

  // One cluster reaches the serial component's queue and the line's receive handler.
  void Receive(FakeCommPort& port, const std::string& bytes) {
    com->SetReadRequest(true);
    port.InjectRx(bytes);
    Settle(port);
  }

  // The log lines without the noise of the serial component's own messages.
  Strings Log(bool with_serial_messages = false) const {
    Strings lines;
    for (const auto& l : line->ProtokollListe)
      if (with_serial_messages || l.find("Meldung: ") == std::string::npos) lines.push_back(l);
    return lines;
  }

  static std::string Message(const std::string& header, std::uint32_t code,
                             const std::string& place, const std::string& text) {
    return header + "Meldung   -" + kStamp + " :Fehler " + std::to_string(code) + " Ort " + place +
           " Text: " + text;
  }
  static std::string Line(const std::string& prefix, const std::string& payload) {
    return prefix + kStamp + " :" + payload;
  }

  std::unique_ptr<TDoVuverUve> line;
  std::vector<Raised> raised;
};

}  // namespace

TEST_F(Connection, ConnectAndDisconnectWithTheirLogLines) {
  auto port = Connect();
  EXPECT_TRUE(line->Active());
  EXPECT_EQ(events, (Strings{"Connect"}));
  EXPECT_EQ(Log(), (Strings{Message("Verbindung Direkt:", 0, "2011", "Verbindung Hergestellt")}));

  line->SetActive(true);  // the present value: nothing at all
  EXPECT_EQ(events.size(), 1u);

  line->SetActive(false);
  EXPECT_FALSE(line->Active());
  EXPECT_FALSE(line->Connected());
  EXPECT_FALSE(com->Active());
  EXPECT_EQ(events, (Strings{"Connect", "Disconnect"}));
  EXPECT_EQ(Log().back(), Message("Verbindung Direkt:", 0, "2021", "Verbindung Abgebaut"));
  EXPECT_TRUE(raised.empty()) << "messages of level 2 raise nothing";
}

TEST_F(Connection, PortThatDoesNotOpenLeavesTheLineOff) {
  line->SetActive(true);  // COM2 is unknown to the fake
  EXPECT_FALSE(line->Active());
  EXPECT_FALSE(line->Connected());
  // The serial report comes first (level 0, raised), then the disconnect message.
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0].place, 0x1138u);
  EXPECT_EQ(events, (Strings{"ErrorTransmit", "ComProcessError", "Disconnect"}));
  EXPECT_EQ(Log(true).back(), Message("Verbindung Direkt:", 0, "2021", "Verbindung Abgebaut"));
  EXPECT_EQ(Log(true)[0].substr(0, 34), "Serielle Schnittstelle:Meldung   -");
}

TEST_F(Connection, WithoutASerialComponentNothingBreaks) {
  TDoVuverUve bare(&owner, loop);
  bare.SetActive(true);
  EXPECT_FALSE(bare.Active());
  bare.SetAutoConnect(true);
  bare.SendeDaten(ByteString("x"));
  bare.DaVevureRezRxClusterEvent(nullptr);
  bare.DaVevureRezWriteDone(nullptr);
  bare.DaVevureRezComStat(nullptr);
  bare.DaVevureRezRLSDEvent(nullptr);
  bare.SetAnschlussTyp(TAnschlussTyp::astModem);
  bare.SetActive(true);
  bare.SetActive(false);
  EXPECT_EQ(bare.GetNextClusterSize(), 0u);
}

TEST_F(Connection, SendLineAndTwoSendsInARow) {
  auto port = Connect();
  line->ProtokollListe.clear();
  events.clear();
  line->SendeDaten(ByteString("\x02\x10\xF0", 3));
  EXPECT_EQ(port->Written(), std::string("\x02\x10\xF0", 3));
  EXPECT_EQ(Log(), (Strings{Line("Gesendet -", "02,10,F0;")}));
  EXPECT_EQ(events, (Strings{"DataSend", "ComWriteDone"})) << "a write that completes at once";

  // The first write stays outstanding: the second waits for its completion.
  events.clear();
  line->ProtokollListe.clear();
  port->SetWritesPending(true);
  line->SendeDaten(ByteString("AB"));
  line->SendeDaten(ByteString("C"));
  EXPECT_EQ(line->ToSendListe.size(), 1u);
  EXPECT_EQ(Log(), (Strings{Line("Gesendet -", "41,42;")})) << "queued data are not logged yet";
  port->SetWriteProgress(0, 2);
  Pass(*port);
  EXPECT_TRUE(line->ToSendListe.empty());
  EXPECT_EQ(Log(), (Strings{Line("Gesendet -", "41,42;"), Line("Gesendet -", "43;")}));
  EXPECT_EQ(events, (Strings{"ComWriteDone"})) << "no DataSend while the queue was not empty";
  port->SetWriteProgress(0, 1);
  Pass(*port);
  EXPECT_EQ(events, (Strings{"ComWriteDone", "DataSend", "ComWriteDone"}));
  EXPECT_EQ(port->Written(), std::string("\x02\x10\xF0", 3) + "ABC");
}

TEST_F(Connection, ZeroByteSendAndShortWrite) {
  auto port = Connect();
  line->ProtokollListe.clear();
  line->SendeDaten(nullptr, 0);
  EXPECT_EQ(Log(), (Strings{Line("Gesendet -", "")}));
  line->SendeDaten(ByteString("x"));
  EXPECT_TRUE(line->ToSendListe.empty()) << "a zero-byte send leaves nothing in progress";

  port->SetWritesPending(true);
  line->SendeDaten(ByteString("abcd"));
  raised.clear();
  port->SetWriteProgress(0, 2);
  Pass(*port);
  ASSERT_FALSE(raised.empty());
  EXPECT_EQ(raised.back().place, 0x2041u);
  EXPECT_EQ(raised.back().msg, "Nicht alles gesendet");
  EXPECT_NE(std::find(line->ProtokollListe.begin(), line->ProtokollListe.end(),
                      Message("Serielle Schnittstelle:", 0, "2041", "Nicht alles gesendet")),
            line->ProtokollListe.end());
}

TEST_F(Connection, SendingWithoutAConnection) {
  line->SendeDaten(ByteString("x"));
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0].place, 0x0011u);
  EXPECT_EQ(raised[0].code, 16u);
  EXPECT_EQ(Log(), (Strings{Message("Verbindung Direkt:", 16, "0011",
                                    "Kann Daten nicht senden, da keine Verbindung mit Endgerät "
                                    "besteht !")}));
  // With AutoConnect the line is switched on first.
  auto port = ports.Add(platform::DevicePath("COM2"));
  line->SetAutoConnect(true);
  line->SendeDaten(ByteString("y"));
  EXPECT_TRUE(line->Connected());
  EXPECT_EQ(port->Written(), "y");
}

TEST_F(Connection, WriteThatNeverCompletedDoesNotBlockTheNextLine) {
  auto port = Connect();
  port->SetWritesPending(true);
  line->SendeDaten(ByteString("lost"));
  line->SendeDaten(ByteString("waiting"));
  EXPECT_EQ(line->ToSendListe.size(), 1u);
  // The line goes off with the write outstanding. The worker ends the write only after
  // the port is gone, and its completion waits for a main loop that is not served here.
  line->SetActive(false);
  const auto end = std::chrono::steady_clock::now() + kLimit;
  while (com->SendInProgress() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_FALSE(com->SendInProgress());
  port = ports.Add(platform::DevicePath("COM2"));
  line->SetActive(true);
  EXPECT_TRUE(line->ToSendListe.empty()) << "switching on empties the queues";
  line->SendeDaten(ByteString("fresh"));
  EXPECT_EQ(port->Written(), "fresh") << "written at once, not queued behind the lost write";
}

// Guards against the off and on of a dialog's OK with a write outstanding: the next send
// was refused yet logged as sent, and the old write's late completion was taken for it
// (a spurious "Nicht alles gesendet", which ends a flash).
TEST_F(Connection, OffAndOnAtOnceWithAWriteOutstanding) {
  auto port = Connect();
  port->SetWritesPending(true);
  line->SendeDaten(ByteString("old"));
  line->SetActive(false);
  auto next = ports.Add(platform::DevicePath("COM2"));
  line->SetActive(true);
  line->SendeDaten(ByteString("new"));
  // The old write's end (aborted by the closing) reaches the main loop only now.
  ASSERT_TRUE(loop.ServeUntil([&] { return next->Written() == "new"; }, kLimit))
      << "the new data are sent once the old write has ended";
  Settle(*next);
  for (const auto& r : raised) EXPECT_NE(r.place, 0x2041u) << "Nicht alles gesendet";
  const auto sent = std::count_if(line->ProtokollListe.begin(), line->ProtokollListe.end(),
                                  [](const std::string& l) { return l.find("Gesendet") == 0; });
  EXPECT_EQ(sent, 2) << "each write logged once, when the serial component took it";
  EXPECT_EQ(std::count(events.begin(), events.end(), "ComWriteDone"), 1)
      << "only the new line's write is relayed as done";
}

TEST_F(Connection, WriteTheSerialComponentRefusesIsForgottenAtOnce) {
  auto port = Connect();
  port->Fail("WriteFile", 5);
  line->SendeDaten(ByteString("refused"));
  line->SendeDaten(ByteString("next"));
  EXPECT_TRUE(line->ToSendListe.empty());
  EXPECT_EQ(port->Written(), "next");
}

TEST_F(Connection, ReceivedClustersAreQueuedAndLogged) {
  auto port = Connect();
  line->ProtokollListe.clear();
  events.clear();
  Receive(*port, std::string("\x02\x00", 2));
  EXPECT_EQ(events, (Strings{"ComRxCluster", "DataRecieve"}));
  EXPECT_EQ(Log(), (Strings{Line("Empfangen-", "02,00;")}));
  Receive(*port, "xyz");
  EXPECT_EQ(line->GetNextClusterSize(), 2u);
  std::uint32_t size = 9;
  EXPECT_EQ(line->ReadNextCluster(size), std::string("\x02\x00", 2));
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(line->ReadNextCluster(size), "xyz");
  EXPECT_EQ(line->ReadNextCluster(size), "");
  EXPECT_EQ(size, 0u);
}

TEST_F(Connection, ClusterWithLineErrorIsLoggedAndNeverHandedUp) {
  auto port = Connect();
  line->ProtokollListe.clear();
  port->InjectLineErrors(CE_FRAME);
  port->InjectRx("\x10\x03");
  Settle(*port);
  EXPECT_EQ(line->GetNextClusterSize(), 0u);
  EXPECT_EQ(Log(), (Strings{Line("EEmpfangen", "10,03;")}));
}

TEST_F(Connection, EmptyClusterWithLineErrorsDoesNotStrandLaterClusters) {
  auto port = Connect();
  port->SetReadsPending(true);
  port->InjectLineErrors(CE_BREAK);
  port->InjectRx("z");
  Settle(*port);
  port->PurgeComm(PURGE_RXCLEAR);   // the byte vanishes before the read completes
  com->OnRxClusterEvent = nullptr;  // both clusters are taken in one receive run below
  port->CompleteRead();
  Settle(*port);
  port->SetReadsPending(false);
  Receive(*port, "after");
  line->SetDaVevureRez(com.get());
  line->ProtokollListe.clear();
  line->DaVevureRezRxClusterEvent(com.get());
  EXPECT_EQ(line->GetNextClusterSize(), 5u) << "the cluster behind the empty one arrives";
  EXPECT_EQ(Log(), (Strings{Line("EEmpfangen", ""), Line("Empfangen-", "61,66,74,65,72;")}));
}

TEST_F(Connection, ClustersWhileNotConnectedWaitWithoutAnEvent) {
  line->SetActive(true);  // the port does not open
  com->SetComPort("COM3");
  auto port = ports.Add(platform::DevicePath("COM3"));
  com->SetActive(true);  // only the serial component, behind the line's back
  Settle(*port);
  events.clear();
  Receive(*port, "early");
  EXPECT_EQ(events, (Strings{"ComRxCluster"}));
  EXPECT_EQ(line->GetNextClusterSize(), 5u);
}

TEST_F(Connection, ConnectHeardInAReceivedCluster) {
  auto port = Connect();
  line->ProtokollListe.clear();
  Receive(*port, "\r\nCONNECT 9600\r\n");
  EXPECT_EQ(Log(),
            (Strings{Line("CONNECT   ", "\r\nCONNECT 9600\r\n"),
                     Line("Empfangen-", "0D,0A,43,4F,4E,4E,45,43,54,20,39,36,30,30,0D,0A;")}));
  EXPECT_EQ(events, (Strings{"Connect", "ComRxCluster", "DataRecieve"})) << "nothing else changes";
  line->SetHearForConnect(false);
  line->ProtokollListe.clear();
  Receive(*port, "CONNECT");
  EXPECT_EQ(Log().size(), 1u);
}

TEST_F(Connection, LogLimitKeepsOneLineMoreThanTheLimit) {
  auto port = Connect();
  line->ProtokollListe.assign(10001, "old");
  line->SendeDaten(ByteString("x"));
  EXPECT_EQ(line->ProtokollListe.size(), 10001u);
  EXPECT_EQ(line->ProtokollListe.back(), Line("Gesendet -", "78;"));
  line->SetMaxProtokollAnzahl(0);
  line->SendeDaten(ByteString("y"));
  EXPECT_EQ(line->ProtokollListe, (std::deque<std::string>{Line("Gesendet -", "79;")}));
  line->SetMaxProtokollAnzahl(-5);
  line->SendeDaten(ByteString("z"));
  EXPECT_EQ(line->ProtokollListe.size(), 1u);
}

TEST_F(Connection, SerialReportsAreLoggedByLevelAndRelayed) {
  auto port = Connect();
  events.clear();
  raised.clear();
  line->ProtokollListe.clear();
  line->DaVevureRezProcessError(com.get(), 0x1151, 0, "Meldung: kann keine Daten senden", 2);
  EXPECT_EQ(events, (Strings{"ComProcessError"})) << "level 2: logged, not raised";
  line->DaVevureRezProcessError(com.get(), 0x52, 5, "Fehler: ClearCommError", 0);
  EXPECT_EQ(events, (Strings{"ComProcessError", "ErrorTransmit", "ComProcessError"}))
      << "level 0: logged, then raised, then relayed";
  EXPECT_EQ(
      Log(true),
      (Strings{Message("Serielle Schnittstelle:", 0, "1151", "Meldung: kann keine Daten senden"),
               Message("Serielle Schnittstelle:", 5, "0052", "Fehler: ClearCommError")}));
}

TEST_F(Connection, LineStateTextForEachHoldFlag) {
  auto port = Connect();
  const std::pair<std::uint8_t, const char*> flags[] = {
      {fCtsHold, "Übertragung wartet auf CTS-Signal (clear-to-send) "},
      {fDsrHold, "Übertragung wartet auf DSR-Signal (data-set-ready) "},
      {fRlsdHold, "Übertragung wartet auf RLS-Signal (receive-line-signal detect) "},
      {fXoffHold, "Übertragung wartet da XOff-Zeichen empfangen wurde "},
      {fXoffSent, "Übertragung wartet da XOff-Zeichen gesendet wurde "},
      {fEof, "Ein EOF-Zeichen (end-of-file) wurde empfangen "},
      {fTxim,
       "Es wurde mittels der TransmitComChar-Funktion ein Zeichen in die Sende-Queue "
       "gestellt. "},
  };
  std::uint8_t all = 0;
  std::string all_text;
  for (const auto& [flag, text] : flags) {
    raised.clear();
    port->SetHoldFlags(flag);
    Pass(*port);
    ASSERT_EQ(raised.size(), 1u) << text;
    EXPECT_EQ(raised[0].place, 0x2031u);
    EXPECT_EQ(raised[0].msg, std::string(text) + "\r");
    all |= flag;
    all_text += std::string(text) + "\r";
  }
  raised.clear();
  port->SetHoldFlags(all);
  Pass(*port);
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0].msg, all_text) << "in table order";
  raised.clear();
  port->SetHoldFlags(0);
  Pass(*port);
  EXPECT_TRUE(raised.empty()) << "no waiting reason, no report";
}

TEST_F(Connection, ChangingTheKindOfLineSwitchesOff) {
  auto port = Connect();
  events.clear();
  line->SetAnschlussTyp(TAnschlussTyp::astDirekt);  // even the present value
  EXPECT_FALSE(line->Active());
  EXPECT_EQ(events, (Strings{"Disconnect"}));
}

TEST(ModemCluster, HexTextWithSeparators) {
  EXPECT_EQ(TAxModemCluster(ByteString("\x02\x10\xF0", 3)).GetDataAsHexString(), "02,10,F0;");
  EXPECT_EQ(TAxModemCluster(ByteString("\x00", 1)).GetDataAsHexString(), "00;");
  EXPECT_EQ(TAxModemCluster().GetDataAsHexString(), "");
  char text[4] = "xxx";
  EXPECT_EQ(TAxModemCluster(ByteString("ab")).GetDataAsPChar(text), text);
  EXPECT_STREQ(text, "ab");
  EXPECT_EQ(TAxModemCluster(ByteString("ab")).GetDataAsPChar(nullptr), nullptr);
}

// The component around the procedures: properties, the nineteen hooked events, switching,
// the protocols without a procedure, HDLC-style frames, and robustness against handlers that
// re-enter it.
#include "tests/protocol/KomponentenFixture.h"

using prottest::H;

namespace {

TEST_F(Komponente, Defaults) {
  EXPECT_EQ(p.Verbindung(), TVerbindungsTyp::vbtModem);
  EXPECT_EQ(p.DoVuverUve(), nullptr);
  EXPECT_EQ(p.Protokoll(), TProtokoll::pNone);
  EXPECT_FALSE(p.Active());
  EXPECT_FALSE(p.P3964RPBlockModeRecieveEnd());
  EXPECT_FALSE(p.P3964RPBlockModeSendRequest());
  EXPECT_FALSE(p.P3964RPBlockModeSendLock());
  EXPECT_FALSE(p.P3964RPBlockModeRecieveLock());
  EXPECT_EQ(p.WaitForAnswer3964R(), 1000);
  EXPECT_EQ(p.P3964RPExtryDelayTime(), 250u);
  EXPECT_EQ(p.P3964RStatus(), TP3964RStatus::p3964rstDisconnect);
  EXPECT_EQ(p.P3964RPStatus(), TP3964RPStatus::p3964rpstDisconnect);
  EXPECT_FALSE(p.WaitForAnswerRunning());
}

TEST_F(Komponente, RelaysPassTheSenderOnAndUnassignedOnesDoNothing) {
  p.SetDoVuverUve(&line);
  TObject sender;
  struct Pair {
    TNotifyEvent* below;
    TNotifyEvent* above;
  };
  const std::vector<Pair> pairs = {
      {&line.OnComTxQueueEmptyEvent, &p.OnComTxQueueEmptyEvent},
      {&line.OnComComEvent, &p.OnComComEvent},
      {&line.OnComComStat, &p.OnComComStat},
      {&line.OnComBreakEvent, &p.OnComBreakEvent},
      {&line.OnComCTSEvent, &p.OnComCTSEvent},
      {&line.OnComDSREvent, &p.OnComDSREvent},
      {&line.OnComLineErrorEvent, &p.OnComLineErrorEvent},
      {&line.OnComRingEvent, &p.OnComRingEvent},
      {&line.OnComRLSDEvent, &p.OnComRLSDEvent},
      {&line.OnComRxClusterEvent, &p.OnComRxClusterEvent},
      {&line.OnComRxCharEvent, &p.OnComRxCharEvent},
      {&line.OnComRxEventCharEvent, &p.OnComRxEventCharEvent},
      {&line.OnComWriteDone, &p.OnComWriteDone},
      {&line.OnComProcessError, &p.OnComProcessError},
      {&line.OnDataSendEvent, &p.OnModemDataSendEvent},
      {&line.OnConnectEvent, &p.OnModemConnectEvent},
      {&line.OnDisconnectEvent, &p.OnModemDisconnectEvent},
      {&line.OnDataRecieveEvent, &p.OnModemDataRecieveEvent},
  };
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(*pairs[i].below) << "hooked";
    (*pairs[i].below)(&sender);  // unassigned above: nothing happens
    std::vector<std::size_t> fired;
    for (std::size_t j = 0; j < pairs.size(); ++j)
      *pairs[j].above = [&fired, &sender, j](TObject* s) {
        EXPECT_EQ(s, &sender);
        fired.push_back(j);
      };
    (*pairs[i].below)(&sender);
    EXPECT_EQ(fired, std::vector<std::size_t>{i});
    for (const Pair& pair : pairs) *pair.above = nullptr;
  }
}

TEST_F(Komponente, ConnectionErrorsPassOnlyAtLevelZero) {
  p.SetDoVuverUve(&line);
  p.OnModemErrorTransmitEvent = [&](TObject* s) {
    EXPECT_EQ(s, &line);
    events.push_back("modem");
  };
  line.OnErrorTransmitEvent(&line, 0x0011, 16, "Kann Daten nicht senden", 0);
  EXPECT_EQ(Events(), "abort 0011/16/0 Kann Daten nicht senden; modem");
  line.OnErrorTransmitEvent(&line, 0x2041, 0, "Warnung", 1);
  EXPECT_EQ(Events(), "modem");
}

TEST_F(Komponente, ConnectAndDisconnectSetTheProcedureFirst) {
  p.SetDoVuverUve(&line);
  p.SetProtokoll(TProtokoll::p3964RPlus);
  p.OnModemConnectEvent = [this](TObject*) {
    EXPECT_EQ(p.P3964RPStatus(), TP3964RPStatus::p3964rpstConnect);
    EXPECT_TRUE(p.WaitForAnswerRunning());
    events.push_back("connect");
  };
  p.OnModemDisconnectEvent = [this](TObject*) {
    EXPECT_EQ(p.P3964RPStatus(), TP3964RPStatus::p3964rpstDisconnect);
    EXPECT_FALSE(p.WaitForAnswerRunning());
    events.push_back("disconnect");
  };
  line.Connect();
  EXPECT_TRUE(p.Connected());
  line.Disconnect();
  EXPECT_FALSE(p.Connected());
  EXPECT_EQ(Events(), "connect; disconnect");
  EXPECT_EQ(p.P3964RStatus(), TP3964RStatus::p3964rstDisconnect) << "the other procedure rests";
}

TEST_F(Komponente, ActivationDiscardsQueuesDeactivationKeepsThem) {
  Start(TProtokoll::p3964R);
  Send("41");
  Send("42");
  line.Receive({H("02")});
  line.Receive({H("43 10 03 50")});
  p.SetActive(false);
  EXPECT_FALSE(line.Active());
  EXPECT_EQ(p.P3964RStatus(), TP3964RStatus::p3964rstDisconnect);
  EXPECT_FALSE(p.WaitForAnswerRunning());
  EXPECT_EQ(p.ToSendListe.size(), 2u);
  EXPECT_EQ(p.ToProzessListe.size(), 1u);
  p.SetActive(true);
  EXPECT_TRUE(p.ToSendListe.empty());
  EXPECT_TRUE(p.ToProzessListe.empty());
  EXPECT_EQ(p.P3964RStatus(), TP3964RStatus::p3964rstConnect);
  EXPECT_TRUE(p.WaitForAnswerRunning());
}

// A ready report would claim delivery of telegrams the activation threw away.
TEST_F(Komponente, DiscardedTelegramsAreNotReportedAsDelivered) {
  Start(TProtokoll::p3964R);
  EXPECT_EQ(Send("41"), "02");
  p.SetActive(false);
  p.SetActive(true);
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Events(), "");
}

TEST_F(Komponente, ChangingProtokollOrLineDeactivatesOnlyOnANewValue) {
  Start(TProtokoll::p3964R);
  p.SetProtokoll(TProtokoll::p3964R);
  EXPECT_TRUE(p.Active());
  p.SetVerbindung(TVerbindungsTyp::vbtModem);
  EXPECT_TRUE(p.Active());
  p.SetDoVuverUve(&line);
  EXPECT_TRUE(p.Active());
  p.SetProtokoll(TProtokoll::p3964RPlus);
  EXPECT_FALSE(p.Active());
  EXPECT_FALSE(line.Active());
}

TEST_F(Komponente, NewWaitTimeStopsTheTimerUntilTheNextCluster) {
  Start(TProtokoll::p3964R);
  p.SetWaitForAnswer3964R(300);
  EXPECT_FALSE(p.WaitForAnswerRunning());
  p.SetWaitForAnswer3964R(300);
  Rx("41");
  EXPECT_TRUE(p.WaitForAnswerRunning());
  EXPECT_EQ(Send("42"), "02");
  loop.Advance(platform::Milliseconds(299));
  EXPECT_EQ(line.TakeWire(), "");
  loop.Advance(platform::Milliseconds(1));
  EXPECT_EQ(line.TakeWire(), "02") << "the time-out comes at the new interval";
}

TEST_F(Komponente, WithoutProtocolBytesAndClustersPassStraightThrough) {
  p.SetDoVuverUve(&line);
  EXPECT_EQ(Send("10 02"), "1002") << "even without a connection, which the line reports";
  Start(TProtokoll::pNone);
  p.OnModemDataRecieveEvent = [this](TObject*) { events.push_back("modem"); };
  line.Receive({H("41"), H("42 43")});
  EXPECT_EQ(Events(), "recv; recv; modem");
  std::uint32_t size = 0;
  EXPECT_EQ(p.ReadNextCluster(size), "A");
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(p.GetNextClusterSize(), 2u);
  EXPECT_EQ(p.ReadNextCluster(size), "BC");
  EXPECT_EQ(p.ReadNextCluster(size), "");
  EXPECT_EQ(size, 0u);
}

TEST_F(Komponente, StreamAndHdlcLeaveClustersWithTheLine) {
  for (TProtokoll mode : {TProtokoll::p3964RStream, TProtokoll::pHDLCNRM, TProtokoll{7}}) {
    Start(mode);
    p.OnModemDataRecieveEvent = [this](TObject*) { events.push_back("modem"); };
    line.Receive({H("02")});
    EXPECT_EQ(Events(), "modem");
    EXPECT_EQ(line.pending.size(), 1u);
    EXPECT_EQ(p.GetNextClusterSize(), 0u);
    line.pending.clear();
    p.SetActive(false);
  }
  Start(TProtokoll::p3964RStream);
  EXPECT_EQ(Send("41"), "") << "stream mode discards";
}

TEST_F(Komponente, HdlcFramesByteForByte) {
  Start(TProtokoll::pHDLCNRM);
  EXPECT_EQ(Send("41"), "7E410000047C7E");
  EXPECT_EQ(Send("01 02"), "7E1000020102E73F7E");
  const std::string empty = Send("");
  EXPECT_EQ(empty.substr(0, 8), "7E100000") << "no data: length 0";
  EXPECT_EQ(empty.size(), 7u * 2);
  ByteString big(300, '\x7E');
  p.SendeString(big);
  EXPECT_EQ(line.TakeWire().substr(0, 8), "7E10012C") << "length high byte first, unescaped";
  EXPECT_TRUE(p.ToSendListe.empty()) << "sent at once, nothing queued";
}

TEST_F(Komponente, EmptyTelegramUnder3964R) {
  p.SetProtokoll(TProtokoll::p3964R);
  p.SendeString("");
  ASSERT_EQ(p.ToSendListe.size(), 1u);
  EXPECT_EQ(p.ToSendListe.front().GetDataAsString(), H("10 03 13"));
  p.SendeDaten(nullptr, 5);
  EXPECT_EQ(p.ToSendListe.size(), 1u) << "no data to read: nothing queued";
}

TEST_F(Komponente, WithoutConnectionComponentNothingBreaks) {
  for (TProtokoll mode :
       {TProtokoll::pNone, TProtokoll::p3964R, TProtokoll::p3964RPlus, TProtokoll::pHDLCNRM}) {
    p.SetProtokoll(mode);
    p.SetActive(true);
    EXPECT_TRUE(p.Active());
    p.SendeString("AB");
    p.SetP3964RPBlockModeSendRequest(true);
    loop.Advance(platform::Milliseconds(5000));
    p.T3964RWaitForAnswerTimer();
    p.SetActive(false);
  }
  EXPECT_EQ(Events(), "");
}

TEST_F(Komponente, DetachingOrDestroyingRemovesTheHandlers) {
  FakeLine other(loop);
  p.SetDoVuverUve(&line);
  p.SetDoVuverUve(&other);
  EXPECT_FALSE(line.OnDataRecieveEvent);
  EXPECT_FALSE(line.OnErrorTransmitEvent);
  EXPECT_TRUE(other.OnDataRecieveEvent);
  {
    TRiVadaroverEza second(nullptr, loop);
    second.SetDoVuverUve(&line);
    EXPECT_TRUE(line.OnComWriteDone);
  }
  EXPECT_FALSE(line.OnComWriteDone);
  line.Receive({H("02")});  // nobody listens any more
  p.SetDoVuverUve(nullptr);
  EXPECT_FALSE(other.OnConnectEvent);
}

TEST_F(Komponente, BlockModeWithoutSerialComponent) {
  Start(TProtokoll::p3964RPlus);
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("10 03"), "10");
  EXPECT_EQ(p.P3964RPStatus(), TP3964RPStatus::p3964rpstBlockModeRecieve);
}

TEST_F(Komponente, ExtraDelaysAreWrittenOnlyWhenTheyDiffer) {
  Serial().SetRTOExtraDelayTime(250);
  Serial().SetWTOExtraDelayTime(3);
  Start(TProtokoll::p3964RPlus);
  Rx("02");
  Rx("10 03");
  EXPECT_EQ(Serial().RTOExtraDelayTime(), 250u);
  EXPECT_EQ(Serial().WTOExtraDelayTime(), 250u);
}

// Handlers that end the run from inside a step (as the flasher does on an abort report) must
// leave the component switched off, not revived by the rest of the step.
TEST_F(Komponente, DeactivationInsideAStepIsFinal) {
  Start(TProtokoll::p3964R);
  p.OnErrorAbortEvent = [this](TObject*, std::uint32_t, std::uint32_t, const ByteString&,
                               std::uint8_t) {
    events.push_back("abort");
    p.SetActive(false);
  };
  Send("41");
  Tick();
  Tick();
  Tick();
  EXPECT_EQ(Events(), "abort");
  EXPECT_EQ(p.P3964RStatus(), TP3964RStatus::p3964rstDisconnect);
  EXPECT_FALSE(p.WaitForAnswerRunning());

  // The same when a write completion inside the frame's send switches off.
  p.OnErrorAbortEvent = nullptr;
  p.SetActive(true);
  Send("41");
  line.onWrite = [this](const ByteString& bytes) {
    if (bytes.size() > 1) p.SetActive(false);
  };
  Rx("10");
  EXPECT_EQ(p.P3964RStatus(), TP3964RStatus::p3964rstDisconnect);
  EXPECT_FALSE(p.WaitForAnswerRunning());
  loop.Advance(platform::Milliseconds(10000));
  EXPECT_EQ(Events(), "");
}

}  // namespace

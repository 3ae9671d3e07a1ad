// Scripted exchanges through the whole component, on the stand-in line and the virtual clock:
// each line is one step of the peer (a cluster, or one interval of silence) and the exact
// bytes the component answers with.
#include "tests/protocol/KomponentenFixture.h"

using prottest::H;
using Status = TP3964RStatus;
using PStatus = TP3964RPStatus;

namespace {

std::string Telegrams(TRiVadaroverEza& p) {
  std::string all;
  std::uint32_t size = 0;
  while (p.GetNextClusterSize() > 0) all += prottest::Hex(p.ReadNextCluster(size)) + " ";
  return all;
}

using Ablauf3964R = Komponente;

TEST_F(Ablauf3964R, TelegramReceivedWithDoubledDle) {
  Start(TProtokoll::p3964R);
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("41 42 10 03 10"), "10");
  EXPECT_EQ(Events(), "recv");
  EXPECT_EQ(p.P3964RStatus(), Status::p3964rstConnect);
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("41 10 10 10 03 52"), "10");
  EXPECT_EQ(Telegrams(p), "4142 4110 ");
}

TEST_F(Ablauf3964R, BadBlocksAndTheEmptyTelegram) {
  Start(TProtokoll::p3964R);
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("41 42 10 03 11"), "15") << "wrong BCC";
  EXPECT_EQ(Events(), "");
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("41 10 42 10 03 00"), "1510") << "a lone DLE in the data: NAK, then DLE";
  EXPECT_EQ(Events(), "recv");
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("10 03 13"), "10");
  EXPECT_EQ(Events(), "recv");
  EXPECT_EQ(p.GetNextClusterSize(), 0u) << "nothing queued for the three";
  // The empty telegram after a conflict gets no answer at all.
  EXPECT_EQ(Send("41"), "02");
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("10 03 13"), "");
  EXPECT_EQ(Events(), "");
}

TEST_F(Ablauf3964R, OneTelegramThenTheReadyReportOneIntervalLater) {
  Start(TProtokoll::p3964R, 2000);
  EXPECT_EQ(Send("01 10"), "02");
  loop.Advance(platform::Milliseconds(500));
  EXPECT_EQ(Rx("10"), "011010100312") << "the stored frame with its DLE doubled";
  loop.Advance(platform::Milliseconds(300));
  EXPECT_EQ(Rx("10"), "");
  EXPECT_EQ(p.ToSendListe.size(), 0u);
  loop.Advance(platform::Milliseconds(1999));
  EXPECT_EQ(Events(), "");
  loop.Advance(platform::Milliseconds(1));
  EXPECT_EQ(Events(), "ready");
  loop.Advance(platform::Milliseconds(20000));
  EXPECT_EQ(Events(), "") << "reported once";
  EXPECT_EQ(line.TakeWire(), "");
}

TEST_F(Ablauf3964R, TwoTelegramsTheSecondStartsAtTheFirstsFinalDle) {
  Start(TProtokoll::p3964R);
  EXPECT_EQ(Send("41"), "02");
  EXPECT_EQ(Send("42"), "") << "waits for the first";
  EXPECT_EQ(Rx("10"), "41100352");
  EXPECT_EQ(Rx("10"), "02");
  EXPECT_EQ(Rx("10"), "42100351");
  EXPECT_EQ(Rx("10"), "");
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Events(), "ready");
}

TEST_F(Ablauf3964R, FinalDleAndStxInOneCluster) {
  Start(TProtokoll::p3964R);
  EXPECT_EQ(Send("41"), "02");
  EXPECT_EQ(Rx("10"), "41100352");
  EXPECT_EQ(Rx("10 02"), "10");
  EXPECT_TRUE(p.ToSendListe.empty()) << "delivered";
  EXPECT_EQ(Rx("43 10 03 50"), "10");
  EXPECT_EQ(Telegrams(p), "43 ");
}

TEST_F(Ablauf3964R, StxConflictWeGiveWayAndSendAfterwards) {
  Start(TProtokoll::p3964R);
  EXPECT_EQ(Send("41"), "02");
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("42 10 03 51"), "10");
  EXPECT_EQ(Events(), "recv");
  EXPECT_EQ(Tick(), "02") << "ours at the next idle step";
  EXPECT_EQ(Rx("10"), "41100352");
  EXPECT_EQ(Rx("10"), "");
}

TEST_F(Ablauf3964R, NakToStxIsRetriedWithoutLimit) {
  Start(TProtokoll::p3964R);
  EXPECT_EQ(Send("41"), "02");
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(Rx("15"), "");
    EXPECT_EQ(Tick(), "02");
  }
  EXPECT_EQ(Events(), "");
}

TEST_F(Ablauf3964R, ThreeStxThenNakAndReport) {
  Start(TProtokoll::p3964R);
  loop.Advance(platform::Milliseconds(400));
  EXPECT_EQ(Send("41"), "02");
  // The timer ran since the connect: the first time-out comes early.
  loop.Advance(platform::Milliseconds(600));
  EXPECT_EQ(line.TakeWire(), "02");
  EXPECT_EQ(Tick(), "02");
  EXPECT_EQ(Tick(), "15");
  EXPECT_EQ(Events(), "abort 3031/3/0 Keine Antwort auf Sendewunsch !");
  EXPECT_FALSE(p.WaitForAnswerRunning());
  EXPECT_EQ(p.ToSendListe.size(), 1u) << "the frame stays";
  EXPECT_EQ(p.P3964RStatus(), Status::p3964rstConnect);
  loop.Advance(platform::Milliseconds(10000));
  EXPECT_EQ(line.TakeWire(), "");
  // A cluster wakes the timer; the counter was not reset, so one time-out now gives up.
  EXPECT_EQ(Rx("41"), "");
  EXPECT_EQ(Tick(), "02");
  EXPECT_EQ(Tick(), "15");
  EXPECT_EQ(Events(), "abort 3031/4/0 Keine Antwort auf Sendewunsch !");
}

TEST_F(Ablauf3964R, SixTransmissionsThenAReportAtEveryTick) {
  Start(TProtokoll::p3964R);
  EXPECT_EQ(Send("41"), "02");
  for (int i = 1; i <= 6; ++i) {
    EXPECT_EQ(Rx("10"), "41100352");
    EXPECT_EQ(Rx("15"), "15");
    if (i < 6) {
      EXPECT_EQ(Tick(), "02");
    }
  }
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Events(), "abort 3030/6/0 Senden nicht erfolgreich !");
  }
  // A new activation starts afresh.
  p.SetActive(false);
  p.SetActive(true);
  EXPECT_EQ(Send("42"), "02");
}

TEST_F(Ablauf3964R, OnlyTheLastOfSeveralPendingClustersCounts) {
  Start(TProtokoll::p3964R);
  EXPECT_EQ(Send("41"), "02");
  line.Receive({H("10"), H("02")});
  EXPECT_EQ(line.TakeWire(), "10") << "the DLE is passed over; the STX wins the conflict";
  EXPECT_EQ(p.P3964RStatus(), Status::p3964rstSTXRnSTXS);
}

TEST_F(Ablauf3964R, ATelegramHandedInOnReceiptStartsAtOnce) {
  Start(TProtokoll::p3964R);
  p.OnDataRecieveEvent = [this](TObject*) { p.SendeString("Q"); };
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("41 10 03 52"), "1002");
}

TEST_F(Ablauf3964R, WithoutConnectionBytesAreDroppedAndTimeOutsRunOut) {
  Start(TProtokoll::p3964R);
  line.LoseSilently();
  EXPECT_EQ(Send("41"), "");
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Events(), "abort 3031/3/0 Keine Antwort auf Sendewunsch !");
}

using Ablauf3964RPlus = Komponente;

TEST_F(Ablauf3964RPlus, BlockSendFirstNormalThenCrcForm) {
  Serial().SetRTOExtraDelayTime(2);
  Serial().SetWTOExtraDelayTime(2);
  p.SetP3964RPExtryDelayTime(7);
  Start(TProtokoll::p3964RPlus);
  p.SetP3964RPBlockModeSendRequest(true);
  EXPECT_EQ(Send("41"), "02");
  Send("42");
  Send("43");
  EXPECT_EQ(Rx("10"), "1003") << "block mode request";
  EXPECT_EQ(Serial().RTOExtraDelayTime(), 2u);
  EXPECT_EQ(Rx("10"), "41100352");
  EXPECT_EQ(Serial().RTOExtraDelayTime(), 7u);
  EXPECT_EQ(Serial().WTOExtraDelayTime(), 7u);
  EXPECT_EQ(Rx("10"), "4210035F94C357");
  EXPECT_EQ(Rx("10"), "4310035E56A960");
  EXPECT_EQ(Rx("10"), "") << "queue empty: block send ends";
  EXPECT_EQ(p.P3964RPStatus(), PStatus::p3964rpstConnect);
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Events(), "ready");
  EXPECT_EQ(Rx("02"), "10") << "the peer may take the line";
}

TEST_F(Ablauf3964RPlus, ThePeersStxEndsOurBlockMode) {
  Start(TProtokoll::p3964RPlus);
  p.SetP3964RPBlockModeSendRequest(true);
  Send("41");
  Send("42");
  EXPECT_EQ(Rx("10"), "1003");
  EXPECT_EQ(Rx("10"), "41100352");
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(p.ToSendListe.size(), 1u) << "the first counts as delivered";
  EXPECT_EQ(Rx("44 10 03 57"), "10");
  EXPECT_EQ(Telegrams(p), "44 ");
  EXPECT_EQ(Tick(), "02");
  EXPECT_EQ(Rx("10"), "1003") << "the request still stands";
}

TEST_F(Ablauf3964RPlus, RefusedBlockModeIsLockedAndTheTelegramGoesNormally) {
  Start(TProtokoll::p3964RPlus);
  p.SetP3964RPBlockModeSendRequest(true);
  EXPECT_EQ(Send("41"), "02");
  EXPECT_EQ(Rx("10"), "1003");
  EXPECT_EQ(Rx("15"), "");
  EXPECT_TRUE(p.P3964RPBlockModeSendLock());
  EXPECT_FALSE(p.P3964RPBlockModeSendRequest());
  EXPECT_EQ(Tick(), "02");
  EXPECT_EQ(Rx("10"), "41100352");
  EXPECT_EQ(Rx("10"), "");
}

TEST_F(Ablauf3964RPlus, BlockModeRepeatsTimeOutsNormallyAndNaksInCrcForm) {
  Start(TProtokoll::p3964RPlus);
  p.SetP3964RPBlockModeSendRequest(true);
  Send("41");
  Rx("10");
  EXPECT_EQ(Rx("10"), "41100352");
  EXPECT_EQ(Tick(), "41100352") << "after a time-out: normal form";
  EXPECT_EQ(Rx("15"), "4110035DD27D0E") << "after a NAK: block form";
  EXPECT_EQ(Tick(), "41100352");
  EXPECT_EQ(Tick(), "15");
  EXPECT_EQ(Events(), "abort 3043/3/0 Keine Antwort im Blockmodus !");
  EXPECT_FALSE(p.P3964RPBlockModeSendRequest());
  EXPECT_FALSE(p.WaitForAnswerRunning());
  EXPECT_EQ(p.ToSendListe.size(), 1u);
}

TEST_F(Ablauf3964RPlus, SixRefusalsInBlockModeGiveUp) {
  Start(TProtokoll::p3964RPlus);
  p.SetP3964RPBlockModeSendRequest(true);
  Send("41");
  Rx("10");
  Rx("10");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Rx("15"), "4110035DD27D0E");
  EXPECT_EQ(Rx("15"), "15");
  EXPECT_FALSE(p.P3964RPBlockModeSendRequest());
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Events(), "abort 3040/6/0 Senden nicht erfolgreich !");
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Events(), "abort 3040/6/0 Senden nicht erfolgreich !");
}

TEST_F(Ablauf3964RPlus, BlockReceiveInBothForms) {
  Serial();
  p.SetP3964RPExtryDelayTime(9);
  Start(TProtokoll::p3964RPlus);
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("10 03"), "10");
  EXPECT_EQ(p.P3964RPStatus(), PStatus::p3964rpstBlockModeRecieve);
  EXPECT_EQ(Serial().RTOExtraDelayTime(), 9u);
  EXPECT_EQ(Serial().WTOExtraDelayTime(), 9u);
  EXPECT_EQ(Rx("41 10 03 5D D2 7D 0E"), "10");
  EXPECT_EQ(Rx("42 10 03 51"), "10");
  EXPECT_EQ(Rx("10 03"), "10");
  EXPECT_EQ(Rx("43 10 03 51"), "15") << "bad BCC: NAK, block receive goes on";
  EXPECT_EQ(Rx("43 10 03 50"), "10");
  EXPECT_EQ(Events(), "recv; recv; recv");
  EXPECT_EQ(Telegrams(p), "41 42 43 ");
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(p.P3964RPStatus(), PStatus::p3964rpstConnect) << "a tick ends block receive";
}

TEST_F(Ablauf3964RPlus, EndFlagAnswersWithOurStxAndTheReadyReportFollows) {
  Start(TProtokoll::p3964RPlus);
  p.SetP3964RPBlockModeRecieveEnd(true);
  EXPECT_FALSE(p.P3964RPBlockModeRecieveEnd()) << "not in block receive";
  Rx("02");
  Rx("10 03");
  EXPECT_EQ(Rx("41 10 03 52"), "10") << "nothing to send yet";
  p.SetP3964RPBlockModeRecieveEnd(true);
  EXPECT_TRUE(p.P3964RPBlockModeRecieveEnd());
  EXPECT_EQ(Send("51"), "") << "waits while the peer sends";
  EXPECT_EQ(Rx("42 10 03 51"), "02");
  EXPECT_EQ(Rx("10"), "51100342");
  EXPECT_EQ(Rx("10"), "");
  EXPECT_EQ(Tick(), "");
  EXPECT_EQ(Events(), "recv; recv; ready");
}

TEST_F(Ablauf3964RPlus, ReceiveLockRefusesBlockModeExceptAfterAConflict) {
  Start(TProtokoll::p3964RPlus);
  p.SetP3964RPBlockModeRecieveLock(true);
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("10 03"), "15");
  EXPECT_EQ(Send("41"), "02");
  EXPECT_EQ(Rx("02"), "10");
  EXPECT_EQ(Rx("10 03"), "10");
  EXPECT_EQ(p.P3964RPStatus(), PStatus::p3964rpstBlockModeRecieve);
  // A tick ends the block receive and starts our telegram in the same step.
  EXPECT_EQ(Tick(), "02");
}

}  // namespace

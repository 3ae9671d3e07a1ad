// The worker thread on the fake port, one pass at a time, with the virtual clock: the
// cluster rule, the write checks, event dispatch, status polls, reads and the closing
// handshake.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "platform/System.h"
#include "tests/serial/FakePortFixture.h"

using namespace platform::comm;
using platform::FakeCommPort;
using serial_test::FakePortFixture;
using Strings = std::vector<std::string>;
using Places = std::vector<std::uint32_t>;

namespace {

class Worker : public FakePortFixture {
 protected:
  // Queues one cluster of `bytes` at once through a read request.
  void MakeCluster(FakeCommPort& port, const std::string& bytes) {
    com->SetReadRequest(true);
    port.InjectRx(bytes);
    Settle(port);
  }
};

}  // namespace

// --- The cluster rule -------------------------------------------------------------------

TEST_F(Worker, TenBytesBecomeOneClusterOnceTheirTimeHasPassed) {
  auto port = Open();
  RecordEvents();
  port->InjectRx("0123456789");
  Settle(*port);
  EXPECT_EQ(events, (Strings{"ComStat", "RxChar", "ComEvent"}));
  EXPECT_EQ(com->ComStateInQueue(), 10u);
  EXPECT_EQ(port->WaitTimeouts().back(), 75u) << "waits stay bounded";

  // 10 x 1100 us + 250 ms = 261 ms after the queue was last found empty.
  Advance(200);
  Pass(*port);
  EXPECT_EQ(port->WaitTimeouts().back(), 62u) << "the wait ends when the block is due";
  Advance(61);
  Pass(*port);
  EXPECT_EQ(com->NextClusterSize(), 0u) << "261 ms is not more than 261 ms";
  EXPECT_EQ(port->WaitTimeouts().back(), 1u);
  Advance(1);
  Pass(*port);
  EXPECT_EQ(com->NextClusterSize(), 10u);
  EXPECT_EQ(com->ReadNextClusterAsString(), "0123456789");
  EXPECT_EQ(events.back(), "RxCluster");
  EXPECT_EQ(port->InputQueued(), 0u);
}

// Regression: bytes already waiting at the first poll were cut at once, as if they had
// waited since the clock began.
TEST_F(Worker, BytesWaitingAtTheOpeningCountTheirTimeFromTheOpening) {
  auto port = ports.Add(platform::DevicePath("COM2"));
  port->InjectRx("early");
  com->SetActive(true);
  Settle(*port);
  EXPECT_EQ(com->NextClusterSize(), 0u);
  Advance(255);  // 5 x 1100 us + 250 ms = 255.5 ms
  Pass(*port);
  EXPECT_EQ(com->NextClusterSize(), 0u);
  Advance(1);
  Pass(*port);
  EXPECT_EQ(com->ReadNextClusterAsString(), "early");
}

TEST_F(Worker, ClusterSizeCutsAtOnceAndTakesEverythingWaiting) {
  auto port = Open();
  com->SetClusterSize(3072);
  port->InjectRx(std::string(3071, 'a'));
  Settle(*port);
  EXPECT_EQ(com->NextClusterSize(), 0u) << "below the threshold the rule waits";
  port->InjectRx(std::string(1929, 'b'));
  Settle(*port);
  ASSERT_EQ(com->NextClusterSize(), 5000u);
  std::uint32_t size = 0;
  std::uint32_t error = 0;
  EXPECT_EQ(com->ReadNextCluster(size, error), std::string(3071, 'a') + std::string(1929, 'b'));
  EXPECT_EQ(error, 0u);
}

TEST_F(Worker, ReadRequestReadsWhatIsWaitingAtTheNextPoll) {
  auto port = Open();
  com->SetReadRequest(true);
  Pass(*port);
  EXPECT_TRUE(com->ReadRequest()) << "stays set while nothing is waiting";
  port->InjectRx("A");
  Settle(*port);
  EXPECT_FALSE(com->ReadRequest());
  EXPECT_EQ(com->ReadNextClusterAsString(), "A");
}

TEST_F(Worker, LineErrorCutsAtOnceAndMarksTheCluster) {
  auto port = Open();
  port->InjectLineErrors(CE_FRAME);
  port->InjectRx("AB");
  Settle(*port);
  ASSERT_EQ(com->NextClusterSize(), 2u) << "no waiting after a receive error";
  EXPECT_EQ(com->NextClusterCCError(), CE_FRAME);
  com->ReadNextClusterAsString();
  // The next block is clean again.
  MakeCluster(*port, "C");
  EXPECT_EQ(com->NextClusterCCError(), 0u);
}

TEST_F(Worker, ClustersQueueInArrivalOrderForEveryReadForm) {
  auto port = Open();
  MakeCluster(*port, "one");
  MakeCluster(*port, std::string("t\0o", 3));
  MakeCluster(*port, "three");
  EXPECT_EQ(com->NextClusterSize(), 3u);
  EXPECT_EQ(com->ReadNextClusterAsHexString(), "6F6E65");
  std::uint32_t size = 0;
  std::uint32_t error = 1;
  EXPECT_EQ(com->ReadNextCluster(size, error), std::string("t\0o", 3));
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(com->ReadNextClusterAsPChar(nullptr), nullptr) << "a null buffer takes nothing";
  char text[6] = "xxxxx";
  EXPECT_EQ(com->ReadNextClusterAsPChar(text), text);
  EXPECT_STREQ(text, "three");

  EXPECT_EQ(com->NextClusterSize(), 0u);
  EXPECT_EQ(com->NextClusterCCError(), 0xFFFFFFFFu);
  EXPECT_EQ(com->ReadNextCluster(size, error), "");
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(error, 0xFFFFFFFFu);
  EXPECT_EQ(com->ReadNextClusterAsString(), "");
  EXPECT_EQ(com->ReadNextClusterAsHexString(), "");
  EXPECT_EQ(com->ReadNextClusterAsPChar(text), nullptr);
}

TEST_F(Worker, ClustersStayQueuedAfterClosing) {
  auto port = Open();
  MakeCluster(*port, "kept");
  com->SetActive(false);
  EXPECT_EQ(com->ReadNextClusterAsString(), "kept");
}

// --- Reads that stay outstanding --------------------------------------------------------

TEST_F(Worker, OutstandingReadEndsInACluster) {
  auto port = Open();
  port->SetReadsPending(true);
  MakeCluster(*port, "abc");
  EXPECT_EQ(com->NextClusterSize(), 0u) << "the read is outstanding";
  EXPECT_EQ(port->Calls().back(), "WaitForSlots(Read,Status)");
  port->CompleteRead();
  Settle(*port);
  EXPECT_EQ(com->ReadNextClusterAsString(), "abc");
}

TEST_F(Worker, EmptyReadGivesAnEmptyClusterWithTheLineErrors) {
  auto port = Open();
  port->SetReadsPending(true);
  port->InjectLineErrors(CE_FRAME);
  port->InjectRx("z");
  Settle(*port);
  port->PurgeComm(PURGE_RXCLEAR);  // the byte is gone before the read completes
  port->CompleteRead();
  Settle(*port);
  EXPECT_EQ(com->NextClusterSize(), 0u);
  EXPECT_EQ(com->NextClusterCCError(), CE_FRAME);
  std::uint32_t size = 1;
  std::uint32_t error = 0;
  EXPECT_EQ(com->ReadNextCluster(size, error), "");
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(error, CE_FRAME);
  EXPECT_EQ(com->NextClusterCCError(), 0xFFFFFFFFu) << "the empty cluster is gone";
}

TEST_F(Worker, FailedReadsAreReportedAndTheirDataDropped) {
  auto port = Open();
  port->SetReadsPending(true);
  MakeCluster(*port, "abc");
  reports.clear();
  com->ClearRxDQueue();  // aborts the outstanding read
  Settle(*port);
  ASSERT_EQ(Reported(), (Places{0x41}));
  EXPECT_EQ(reports[0].code, platform::kErrorOperationAborted);
  EXPECT_EQ(reports[0].msg, "Fehler: Lesen abgebrochen");

  MakeCluster(*port, "def");
  port->CompleteRead(31);
  Settle(*port);
  ASSERT_EQ(Reported(), (Places{0x41, 0x42}));
  EXPECT_EQ(reports[1].noise, 1);
  EXPECT_EQ(reports[1].code, 31u);
  EXPECT_EQ(com->NextClusterSize(), 0u);
  com->SetReadRequest(false);
  com->ClearRxDQueue();  // ends the read the request started again
  Settle(*port);
}

TEST_F(Worker, ReadThatFailsToStartIsReported) {
  auto port = Open();
  port->Fail("ReadFile", 61);
  MakeCluster(*port, "x");
  EXPECT_EQ(Reported(), (Places{0x1136, 0x211}));
  EXPECT_FALSE(com->ReadRequest());
  EXPECT_EQ(port->InputQueued(), 1u) << "the data stay in the driver's queue";
}

// --- Events and status ------------------------------------------------------------------

TEST_F(Worker, OneEventMaskIsDispatchedInTableOrderThenComEvent) {
  auto port = Open();
  RecordEvents();
  std::vector<bool> states;
  com->OnCTSEvent = [&](TObject*) { states.push_back(com->CTSState()); };
  com->OnDSREvent = [&](TObject*) { states.push_back(com->DSRState()); };
  com->OnRingEvent = [&](TObject*) { states.push_back(com->RingState()); };
  com->OnRLSDEvent = [&](TObject*) { states.push_back(com->RLSDState()); };
  port->SetModemStatus(MS_CTS_ON | MS_RING_ON);
  port->InjectEvents(EV_ALL);
  Settle(*port);
  EXPECT_EQ(events,
            (Strings{"Break", "LineError", "RxChar", "RxEventChar", "TxQueueEmpty", "ComEvent"}));
  EXPECT_EQ(states, (std::vector<bool>{true, false, true, false}))
      << "CTS, DSR, ring, RLSD: each line state is set before its event";
  EXPECT_EQ(com->CommEvent(), EV_ALL);
  EXPECT_EQ(com->ModemState(), MS_CTS_ON | MS_RING_ON);
}

TEST_F(Worker, CtsAndRxCharRaiseCtsThenRxCharThenComEvent) {
  auto port = Open();
  RecordEvents();
  port->SetModemStatus(MS_CTS_ON);
  port->InjectEvents(EV_CTS | EV_RXCHAR);
  Settle(*port);
  EXPECT_EQ(events, (Strings{"CTS", "RxChar", "ComEvent"}));
  EXPECT_TRUE(com->CTSState());
  EXPECT_FALSE(com->DSRState()) << "only lines with an event are updated";
}

TEST_F(Worker, ComStatOnlyWhenTheStatusChanges) {
  auto port = Open();
  RecordEvents();
  Pass(*port);
  Pass(*port);
  EXPECT_TRUE(events.empty()) << "a silent port raises nothing";
  port->SetHoldFlags(fCtsHold);
  Pass(*port);
  EXPECT_EQ(events, (Strings{"ComStat"}));
  EXPECT_TRUE(com->ComStateFlags().Contains(TComStateFlag::fCtlHold));
  Pass(*port);
  EXPECT_EQ(events.size(), 1u);
  port->SetOutQueue(7);
  Pass(*port);
  EXPECT_EQ(events.size(), 2u);
  EXPECT_EQ(com->ComStateOutQueue(), 7u);
}

TEST_F(Worker, StatusPollFailuresAreReportedEveryPoll) {
  auto port = Open();
  reports.clear();
  port->Fail("GetCommModemStatus", 71, 2);
  port->Fail("ClearCommError", 72);
  Pass(*port);
  EXPECT_EQ(Reported(), (Places{0x51, 0x52, 0x51})) << "after the wait, then in the next pass";
  EXPECT_EQ(reports[1].code, 72u);
  EXPECT_EQ(reports[1].msg, "Fehler: ClearCommError");
  EXPECT_EQ(reports[0].msg, "Fehler: holen des Modemstatus");
}

// Guards against a device that has gone (EIO at every poll) being reported at every poll,
// which also held up the closing for its whole bound, with a warning.
TEST_F(Worker, AVanishedDeviceIsReportedOnceAndClosesPromptly) {
  auto port = Open();
  reports.clear();
  port->Fail("ClearCommError", EIO, -1);
  for (int i = 0; i < 4; ++i) Pass(*port);
  EXPECT_EQ(Reported(), (Places{0x52}));
  const auto start = std::chrono::steady_clock::now();
  com->SetActive(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
  EXPECT_EQ(Reported(), (Places{0x52, 0x1131}));
  auto again = ports.Add(platform::DevicePath("COM2"));
  com->SetActive(true);
  ASSERT_TRUE(com->Active()) << "the port opens again";
  Settle(*again);
  again->Fail("ClearCommError", EIO, 1);
  Pass(*again);
  EXPECT_EQ(Reported(), (Places{0x52, 0x1131, 0x1136, 0x52})) << "a new port reports anew";
}

TEST_F(Worker, EventWaitThatCannotStartIsReportedAndRetriedWithoutSpinning) {
  auto port = ports.Add(platform::DevicePath("COM2"));
  port->Fail("WaitCommEvent", 81);
  com->SetActive(true);
  Settle(*port);
  EXPECT_EQ(Reported(), (Places{0x1136, 0x31}));
  EXPECT_EQ(port->Calls().back(), "WaitForSlots()") << "a bounded pause instead";
  Pass(*port);
  EXPECT_EQ(port->Calls().back(), "WaitForSlots(Status)");
  EXPECT_EQ(Reported().size(), 2u);
}

TEST_F(Worker, FailedWaitsForgetTheirOperations) {
  auto port = Open();
  reports.clear();
  // Counted from here: a first pass that overlaps the opening may start an extra one.
  const int event_waits = port->CountCalls("WaitCommEvent");
  Pass(*port, platform::kWaitFailed);
  ASSERT_EQ(Reported(), (Places{0x63}));
  EXPECT_EQ(reports[0].code, platform::kWaitFailed);
  EXPECT_EQ(port->CountCalls("ResetOverlapped(Status)"), 1) << "abandoned at the port too";
  EXPECT_EQ(port->CountCalls("WaitCommEvent"), event_waits + 1) << "the event wait is started anew";

  port->SetReadsPending(true);
  MakeCluster(*port, "x");
  Pass(*port, platform::kWaitFailed);
  EXPECT_EQ(Reported(), (Places{0x63, 0x61}));
  EXPECT_EQ(port->CountCalls("ResetOverlapped(Read)"), 1);
  com->SetReadRequest(false);
  com->ClearRxDQueue();  // ends the read the request started again
  Settle(*port);
}

// --- The outstanding write --------------------------------------------------------------

TEST_F(Worker, PendingWriteIsGivenUpAfterItsTime) {
  auto port = Open();
  RecordEvents();
  port->SetWritesPending(true);
  com->SendString(std::string(20, 'w'));
  EXPECT_TRUE(com->SendInProgress());
  EXPECT_TRUE(events.empty());
  reports.clear();
  // 10 bytes went out: 10 x 1100 us + 250 ms.
  port->SetWriteProgress(platform::kErrorIoPending, 10);
  Advance(261);
  Pass(*port);
  EXPECT_TRUE(com->SendInProgress());
  Advance(1);
  Pass(*port);
  EXPECT_FALSE(com->SendInProgress());
  ASSERT_EQ(Reported(), (Places{0x12}));
  EXPECT_EQ(reports[0].code, platform::kErrorIoPending);
  EXPECT_EQ(reports[0].msg, "Fehler: Schreiben Timeout");
  EXPECT_EQ(events, (Strings{"WriteDone"}));
  EXPECT_EQ(com->WrittenBytes(), 10u);
  EXPECT_EQ(port->CountCalls("ResetOverlapped(Write)"), 1);
}

TEST_F(Worker, RunningWriteIsWaitedFor) {
  auto port = Open();
  RecordEvents();
  port->SetWritesPending(true);
  com->SendString("abc");
  Advance(10000);
  Pass(*port);
  EXPECT_TRUE(com->SendInProgress()) << "a running write has no time limit of its own";
  port->SetWriteProgress(0, 3);
  Pass(*port);
  EXPECT_EQ(events, (Strings{"WriteDone"}));
  EXPECT_EQ(com->WrittenBytes(), 3u);
  EXPECT_EQ(Reported(), (Places{0x1136}));
}

TEST_F(Worker, ShortWriteIsReportedBeforeWriteDone) {
  auto port = Open();
  RecordEvents();
  com->OnProcessError = [&](TObject*, std::uint32_t place, std::uint32_t, const ByteString&,
                            std::uint8_t) { events.push_back("Report " + std::to_string(place)); };
  port->SetWritesPending(true);
  com->SendString(std::string(64, 'x'));
  port->SetWriteProgress(0, 40);
  Pass(*port);
  EXPECT_EQ(events, (Strings{"Report 17", "WriteDone"}));
  EXPECT_EQ(com->WrittenBytes(), 40u);
}

TEST_F(Worker, AbortedWriteEndsWithReportAndWriteDone) {
  auto port = Open();
  RecordEvents();
  port->SetWritesPending(true);
  com->SendString("abc");
  reports.clear();
  com->ClearTxDQueue();
  Pass(*port);
  ASSERT_EQ(Reported(), (Places{0x25E6}));
  EXPECT_EQ(reports[0].code, platform::kErrorOperationAborted);
  EXPECT_EQ(reports[0].msg, "Error getting Overlapped Result");
  EXPECT_EQ(events, (Strings{"WriteDone"}));
  EXPECT_FALSE(com->SendInProgress());
  // The next write goes through.
  port->SetWritesPending(false);
  com->SendString("d");
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(Worker, WriteDoneHandlerMaySendTheNextBlock) {
  auto port = Open();
  port->SetWritesPending(true);
  std::vector<std::string> blocks = {"2", "3"};
  com->OnWriteDone = [&](TObject*) {
    if (!blocks.empty()) {
      com->SendString(blocks.front());
      blocks.erase(blocks.begin());
    }
  };
  com->SendString("1");
  port->SetWriteProgress(0, 1);
  Pass(*port);
  port->SetWriteProgress(0, 1);
  Pass(*port);
  EXPECT_EQ(port->Written(), "123");
  EXPECT_TRUE(com->SendInProgress());
  EXPECT_EQ(Reported(), (Places{0x1136})) << "no write was refused or reset by mistake";
  port->SetWriteProgress(0, 1);
  Pass(*port);
}

// A handler that moves to another port and sends at once: the pass goes on with the new
// port, so the new write is neither taken for done nor reset.
TEST_F(Worker, HandlerThatReopensAndSendsKeepsItsWriteOnTheNewPort) {
  auto port = Open();
  auto next = ports.Add(platform::DevicePath("COM3"));
  next->SetWritesPending(true);
  RecordEvents();
  // More bytes while the pass hands over its news: the next pass's first poll sees them.
  com->OnRxCharEvent = [&](TObject*) {
    if (port->InputQueued() == 1) port->InjectRx("y");
  };
  com->OnComStat = [&](TObject*) {
    if (com->ComPort() == "COM3" || com->ComStateInQueue() < 2) return;
    com->SetComPort("COM3");
    com->SendString("abc");
  };
  reports.clear();
  port->InjectRx("x");
  Settle(*next);
  EXPECT_TRUE(port->Closed());
  EXPECT_TRUE(com->SendInProgress()) << "the write on the new port is still running";
  EXPECT_EQ(std::count(events.begin(), events.end(), "WriteDone"), 0);
  next->SetWriteProgress(0, 3);
  Pass(*next);
  EXPECT_EQ(std::count(events.begin(), events.end(), "WriteDone"), 1);
  EXPECT_EQ(com->WrittenBytes(), 3u);
  EXPECT_EQ(next->Written(), "abc");
  for (const auto place : Reported()) EXPECT_NE(place, 0x11u) << "no short write was seen";
}

// --- Closing and destruction ------------------------------------------------------------

// Guards against the closing wait inside the worker's own hand-over: the worker cannot go
// idle before the handler returns, so waiting froze the program for 1.5 s and warned.
TEST_F(Worker, ClosingInsideOwnHandOverNeitherWaitsNorWarnsAndStaysSilentAfterwards) {
  auto port = Open();
  reports.clear();
  com->OnRxClusterEvent = [&](TObject*) {
    const auto start = std::chrono::steady_clock::now();
    com->SetActive(false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400))
        << "closing did not wait for a worker that waits for it";
  };
  MakeCluster(*port, "final answer");
  ASSERT_TRUE(loop.ServeUntil([&] { return !com->IsWorkThreadRunning(); }, kLimit));
  Advance(1000);
  EXPECT_EQ(Reported(), (Places{0x1131}));
  EXPECT_EQ(com->ReadNextClusterAsString(), "final answer");
  EXPECT_TRUE(port->Closed());
}

TEST_F(Worker, NewsNobodyListensToDoesNotHoldUpClosing) {
  auto port = Open();
  reports.clear();
  port->SetHoldFlags(fCtsHold);  // seen by the poll after closing ended the event wait
  com->SetActive(false);
  EXPECT_EQ(Reported(), (Places{0x1131})) << "no wait for a hand-over without a handler";
  EXPECT_TRUE(com->ComStateFlags().Contains(TComStateFlag::fCtlHold)) << "the state is kept";
}

TEST_F(Worker, DestructionDropsDataAndEventsOfTheLastMoments) {
  auto port = Open();
  RecordEvents();
  port->SetWritesPending(true);
  com->SetWTOExtraDelayTime(0);
  com->SendString("unfinished");
  port->SetWriteProgress(platform::kErrorIoPending, 0);
  Advance(1);  // the write is overdue: the worker gives it up as soon as it looks
  port->InjectEvents(EV_CTS);
  port->InjectRx("late");
  com.reset();
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(reports.size() == 1 && reports[0].place == 0x1136);
}

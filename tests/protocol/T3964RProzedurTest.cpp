// Every row of the receive and timer tables of both procedures, one table entry each: start
// state and setup, clusters in, what goes out and is raised (each entry tagged with the state
// the procedure was in at that moment, which pins the order of state change and sends), the
// next state, the queues, counters, flags and the answer timer.
#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "platform/VirtualMainLoop.h"
#include "protocol/T3964RProzedur.h"
#include "tests/protocol/ProzedurTestSupport.h"

using prottest::H;
using prottest::Hex;

namespace {

// The stored frames of the telegrams "A", "B", "C" that the rows queue.
const char* const kFrames[] = {"41 10 03 52", "42 10 03 51", "43 10 03 50"};

class Aufzeichnung : public T3964RLeitung {
 public:
  T3964RProzedur* p = nullptr;
  bool plus = false;
  std::deque<ByteString> pending;
  std::string trace;
  std::vector<ByteString> msgs;

  int State() const {
    return plus ? static_cast<int>(p->fP3964RPStatus) : static_cast<int>(p->fP3964RStatus);
  }
  void Log(const std::string& what) {
    if (!trace.empty()) trace += ' ';
    trace += std::to_string(State()) + ":" + what;
  }

  void SendeRohdaten(const ByteString& Data) override { Log(Hex(Data)); }
  std::uint32_t PendingClusterSize() override {
    return pending.empty() ? 0 : static_cast<std::uint32_t>(pending.front().size());
  }
  ByteString TakeCluster() override {
    ByteString c = pending.front();
    pending.pop_front();
    return c;
  }
  void DataRecieveEvent() override { Log("recv"); }
  void SuccessfulReadyEvent() override { Log("ready"); }
  void MeldeFehler(std::uint32_t Place, std::uint32_t Code, const ByteString& Msg,
                   std::uint8_t Noise) override {
    char buf[32];
    std::snprintf(buf, sizeof buf, "err%04X/%u", static_cast<unsigned>(Place),
                  static_cast<unsigned>(Code));
    Log(buf);
    msgs.push_back(Msg);
    EXPECT_EQ(Noise, 0);
  }
  void SetzeExtraDelayTime() override { Log("extra"); }
};

// One row. Fields left at their defaults expect "unchanged" (counters, flags, queue) or
// the natural timer outcome (running, except in Disconnect or where the row stops it).
struct Zeile {
  const char* name;
  int state;
  std::vector<const char*> in;  // clusters in; none means a tick of the answer timer
  const char* trace;
  int next;
  int frames = 0;  // telegrams queued to send before the step
  int timeouts = 0;
  int transmits = 0;
  bool ready = false;
  bool request = false, lock = false, rlock = false, rend = false;
  std::vector<const char*> queued = {};  // received telegrams after the step
  std::optional<int> framesAfter = {};
  std::optional<int> timeoutsAfter = {};
  std::optional<int> transmitsAfter = {};
  std::optional<bool> readyAfter = {};
  std::optional<bool> timerAfter = {};
  std::optional<bool> requestAfter = {};
  std::optional<bool> lockAfter = {};
};

const std::map<std::string, ByteString> kTexts = {
    {"err3030", "Senden nicht erfolgreich !"},      {"err3031", "Keine Antwort auf Sendewunsch !"},
    {"err3040", "Senden nicht erfolgreich !"},      {"err3041", "Keine Antwort auf Sendewunsch !"},
    {"err3042", "Keine Antwort auf ToggleBlock !"}, {"err3043", "Keine Antwort im Blockmodus !"},
};

class T3964RTabelle : public ::testing::Test {
 protected:
  void Run(const std::vector<Zeile>& rows, bool plus) {
    for (const Zeile& z : rows) {
      SCOPED_TRACE(z.name);
      platform::VirtualMainLoop loop;
      auto timer = loop.CreateTimer(platform::Milliseconds(1000));
      TProtokollListe toSend, toProzess;
      Aufzeichnung line;
      T3964RProzedur p(line, *timer, toSend, toProzess);
      line.p = &p;
      line.plus = plus;

      if (plus)
        p.fP3964RPStatus = static_cast<TP3964RPStatus>(z.state);
      else
        p.fP3964RStatus = static_cast<TP3964RStatus>(z.state);
      for (int i = 0; i < z.frames; ++i) toSend.emplace_back(H(kFrames[i]));
      p.f3964RErrorTimeOutCounter = z.timeouts;
      p.f3964RErrorTransmitCounter = z.transmits;
      p.SuccessfullReadyEnabled = z.ready;
      p.fP3964RPBlockModeSendRequest = z.request;
      p.fP3964RPBlockModeSendLock = z.lock;
      p.fP3964RPBlockModeRecieveLock = z.rlock;
      p.fP3964RPBlockModeRecieveEnd = z.rend;
      if (z.state != 0) timer->Start();

      const bool tick = z.in.empty();
      for (const char* c : z.in) line.pending.push_back(H(c));
      if (tick)
        plus ? p.Zeitablauf3964RPlus() : p.Zeitablauf3964R();
      else
        plus ? p.Empfange3964RPlus() : p.Empfange3964R();

      EXPECT_EQ(line.trace, z.trace);
      EXPECT_EQ(line.State(), z.next);
      std::vector<std::string> got, want;
      for (const auto& t : toProzess) got.push_back(Hex(t.GetDataAsString()));
      for (const char* t : z.queued) want.push_back(Hex(H(t)));
      EXPECT_EQ(got, want) << "received telegrams";
      EXPECT_EQ(static_cast<int>(toSend.size()), z.framesAfter.value_or(z.frames));
      if (!toSend.empty() && z.framesAfter && *z.framesAfter < z.frames) {
        EXPECT_EQ(toSend.front().GetDataAsString(), H(kFrames[z.frames - *z.framesAfter]))
            << "delivered frames leave from the head";
      }
      EXPECT_EQ(p.f3964RErrorTimeOutCounter, z.timeoutsAfter.value_or(z.timeouts));
      EXPECT_EQ(p.f3964RErrorTransmitCounter, z.transmitsAfter.value_or(z.transmits));
      EXPECT_EQ(p.SuccessfullReadyEnabled, z.readyAfter.value_or(z.ready));
      EXPECT_EQ(timer->Enabled(), z.timerAfter.value_or(z.next != 0)) << "answer timer";
      EXPECT_EQ(p.fP3964RPBlockModeSendRequest, z.requestAfter.value_or(z.request));
      EXPECT_EQ(p.fP3964RPBlockModeSendLock, z.lockAfter.value_or(z.lock));
      EXPECT_EQ(p.fP3964RPBlockModeRecieveLock, z.rlock) << "never changed by the procedure";
      EXPECT_EQ(p.fP3964RPBlockModeRecieveEnd, z.rend) << "never changed by the procedure";
      for (const ByteString& msg : line.msgs) {
        const auto at = line.trace.find("err");
        ASSERT_NE(at, std::string::npos);
        EXPECT_EQ(msg, kTexts.at(line.trace.substr(at, 7)));
      }
    }
  }
};

TEST_F(T3964RTabelle, ReceiveTransitions3964R) {
  // clang-format off
  Run(
      {
          {.name = "0: clusters are ignored", .state = 0, .in = {"02"}, .trace = "", .next = 0},
          {.name = "1: STX answered with DLE", .state = 1, .in = {"02"}, .trace = "2:10", .next = 3},
          {.name = "1: a cluster ending in STX", .state = 1, .in = {"41 02"}, .trace = "2:10",
           .next = 3},
          {.name = "1: anything else", .state = 1, .in = {"41 10"}, .trace = "", .next = 1},
          {.name = "2: held only inside a step", .state = 2, .in = {"02"}, .trace = "", .next = 2},
          {.name = "3: telegram", .state = 3, .in = {"41 42 10 03 10"}, .trace = "1:10 1:recv",
           .next = 1, .queued = {"41 42"}},
          {.name = "3: doubled DLE", .state = 3, .in = {"41 10 10 42 10 03 10"},
           .trace = "1:10 1:recv", .next = 1, .queued = {"41 10 42"}},
          {.name = "3: single DLE in the data voids it", .state = 3,
           .in = {"41 10 42 10 03 00"}, .trace = "3:15 1:10 1:recv", .next = 1},
          {.name = "3: empty telegram", .state = 3, .in = {"10 03 13"}, .trace = "1:10 1:recv",
           .next = 1},
          {.name = "3: wrong BCC", .state = 3, .in = {"41 42 10 03 11"}, .trace = "1:15",
           .next = 1},
          {.name = "3: no DLE ETX before the BCC", .state = 3, .in = {"41 42 03 10 02"},
           .trace = "1:15", .next = 1},
          {.name = "3: too short for a block", .state = 3, .in = {"10 03"}, .trace = "1:15",
           .next = 1},
          {.name = "4: DLE, the head frame goes out", .state = 4, .in = {"10"},
           .trace = "4:41100352", .next = 5, .frames = 1, .timeouts = 2, .timeoutsAfter = 0},
          {.name = "4: STX conflict, we give way", .state = 4, .in = {"02"}, .trace = "6:10",
           .next = 6, .frames = 1},
          {.name = "4: NAK", .state = 4, .in = {"15"}, .trace = "", .next = 1, .frames = 1},
          {.name = "4: DLE with more behind it", .state = 4, .in = {"10 10"}, .trace = "",
           .next = 1, .frames = 1},
          {.name = "5: final DLE, next telegram", .state = 5, .in = {"10"}, .trace = "4:02",
           .next = 4, .frames = 2, .transmits = 3, .framesAfter = 1, .transmitsAfter = 0},
          {.name = "5: final DLE and the peer's STX", .state = 5, .in = {"10 02"},
           .trace = "3:10", .next = 3, .frames = 2, .transmits = 3, .framesAfter = 1,
           .transmitsAfter = 0},
          {.name = "5: final DLE, queue done", .state = 5, .in = {"10"}, .trace = "", .next = 1,
           .frames = 1, .transmits = 3, .framesAfter = 0, .transmitsAfter = 0},
          {.name = "5: final DLE with other bytes", .state = 5, .in = {"10 41"}, .trace = "",
           .next = 1, .frames = 2, .framesAfter = 1},
          {.name = "5: refused", .state = 5, .in = {"15"}, .trace = "1:15", .next = 1,
           .frames = 1, .transmits = 2, .transmitsAfter = 3},
          {.name = "6: the peer's telegram", .state = 6, .in = {"41 42 10 03 10"},
           .trace = "1:10 1:recv", .next = 1, .frames = 1, .queued = {"41 42"}},
          {.name = "6: empty telegram, no answer", .state = 6, .in = {"10 03 13"}, .trace = "",
           .next = 1, .frames = 1},
          {.name = "6: a lone DLE, our frame goes", .state = 6, .in = {"10"},
           .trace = "6:41100352", .next = 5, .frames = 1, .timeouts = 1, .timeoutsAfter = 0},
          {.name = "6: anything else", .state = 6, .in = {"41"}, .trace = "1:15", .next = 1,
           .frames = 1},
          {.name = "only the last of several clusters counts", .state = 5, .in = {"10", "02"},
           .trace = "1:15", .next = 1, .frames = 1, .transmitsAfter = 1},
      },
      false);
  // clang-format on
}

TEST_F(T3964RTabelle, TimerSteps3964R) {
  // clang-format off
  Run(
      {
          {.name = "0: the timer stops", .state = 0, .in = {}, .trace = "", .next = 0},
          {.name = "1: a queued telegram starts", .state = 1, .in = {}, .trace = "4:02",
           .next = 4, .frames = 1, .transmits = 5, .readyAfter = true},
          {.name = "1: six failures reported", .state = 1, .in = {}, .trace = "1:err3030/6",
           .next = 1, .frames = 1, .transmits = 6, .ready = true, .readyAfter = false},
          {.name = "1: queue empty after sending", .state = 1, .in = {}, .trace = "1:ready",
           .next = 1, .ready = true, .readyAfter = false},
          {.name = "1: idle", .state = 1, .in = {}, .trace = "", .next = 1},
          {.name = "2: NAK", .state = 2, .in = {}, .trace = "1:15", .next = 1},
          {.name = "3: no telegram came", .state = 3, .in = {}, .trace = "1:15", .next = 1},
          {.name = "4: STX again", .state = 4, .in = {}, .trace = "4:02", .next = 4, .frames = 1,
           .timeouts = 1, .timeoutsAfter = 2},
          {.name = "4: third time-out gives up", .state = 4, .in = {}, .trace = "4:15 4:err3031/3",
           .next = 1, .frames = 1, .timeouts = 2, .timeoutsAfter = 3, .timerAfter = false},
          {.name = "5: no final DLE", .state = 5, .in = {}, .trace = "1:15", .next = 1,
           .frames = 1, .transmits = 1, .transmitsAfter = 2},
          {.name = "6: no telegram came", .state = 6, .in = {}, .trace = "1:15", .next = 1,
           .frames = 1},
      },
      false);
  // clang-format on
}

TEST_F(T3964RTabelle, ReceiveTransitions3964RPlus) {
  // clang-format off
  Run(
      {
          {.name = "0: ignored", .state = 0, .in = {"02"}, .trace = "", .next = 0},
          {.name = "2: held only inside a step", .state = 2, .in = {"02"}, .trace = "", .next = 2},
          {.name = "1: STX", .state = 1, .in = {"02"}, .trace = "2:10", .next = 3},
          {.name = "1: other", .state = 1, .in = {"41"}, .trace = "", .next = 1},
          {.name = "3: BCC form", .state = 3, .in = {"41 42 10 03 10"}, .trace = "1:10 1:recv",
           .next = 1, .queued = {"41 42"}},
          {.name = "3: CRC form", .state = 3, .in = {"41 42 10 03 A2 39 FA 01"},
           .trace = "1:10 1:recv", .next = 1, .queued = {"41 42"}},
          {.name = "3: empty telegram", .state = 3, .in = {"10 03 13"}, .trace = "1:10 1:recv",
           .next = 1},
          {.name = "3: void telegram", .state = 3, .in = {"41 10 42 10 03 00"},
           .trace = "3:15 1:10 1:recv", .next = 1},
          {.name = "3: block mode request", .state = 3, .in = {"10 03"}, .trace = "3:extra 4:10",
           .next = 4},
          {.name = "3: block mode request refused", .state = 3, .in = {"10 03"}, .trace = "1:15",
           .next = 1, .rlock = true},
          {.name = "3: bad block", .state = 3, .in = {"41 42 10 03 A2 39 FA 02"},
           .trace = "1:15", .next = 1},
          {.name = "4: BCC form", .state = 4, .in = {"41 10 03 52"}, .trace = "4:10 4:recv",
           .next = 4, .queued = {"41"}},
          {.name = "4: CRC form", .state = 4, .in = {"41 10 03 5D D2 7D 0E"},
           .trace = "4:10 4:recv", .next = 4, .queued = {"41"}},
          {.name = "4: end flag and something to send", .state = 4, .in = {"41 10 03 52"},
           .trace = "5:02 5:recv", .next = 5, .frames = 1, .rend = true, .queued = {"41"},
           .readyAfter = true},
          {.name = "4: end flag, nothing to send", .state = 4, .in = {"41 10 03 52"},
           .trace = "4:10 4:recv", .next = 4, .rend = true, .queued = {"41"}},
          {.name = "4: empty telegram", .state = 4, .in = {"10 03 13"}, .trace = "", .next = 4},
          {.name = "4: void telegram", .state = 4, .in = {"41 10 42 10 03 00"}, .trace = "4:15",
           .next = 4},
          {.name = "4: request again", .state = 4, .in = {"10 03"}, .trace = "4:10", .next = 4},
          {.name = "4: bad block", .state = 4, .in = {"41 10 03 53"}, .trace = "4:15", .next = 4},
          {.name = "5: DLE, block mode wanted", .state = 5, .in = {"10"}, .trace = "7:1003",
           .next = 7, .frames = 1, .request = true},
          {.name = "5: DLE, request under lock", .state = 5, .in = {"10"},
           .trace = "5:41100352", .next = 6, .frames = 1, .timeouts = 2, .request = true,
           .lock = true, .timeoutsAfter = 0},
          {.name = "5: DLE", .state = 5, .in = {"10"}, .trace = "5:41100352", .next = 6,
           .frames = 1, .timeouts = 1, .timeoutsAfter = 0},
          {.name = "5: STX conflict", .state = 5, .in = {"02"}, .trace = "9:10", .next = 9,
           .frames = 1},
          {.name = "5: NAK", .state = 5, .in = {"15"}, .trace = "", .next = 1, .frames = 1},
          {.name = "6: final DLE, next telegram", .state = 6, .in = {"10"}, .trace = "5:02",
           .next = 5, .frames = 2, .transmits = 2, .framesAfter = 1, .transmitsAfter = 0},
          {.name = "6: final DLE and STX", .state = 6, .in = {"10 02"}, .trace = "3:10",
           .next = 3, .frames = 1, .framesAfter = 0},
          {.name = "6: final DLE, done", .state = 6, .in = {"10"}, .trace = "", .next = 1,
           .frames = 1, .transmits = 1, .framesAfter = 0, .transmitsAfter = 0},
          {.name = "6: refused", .state = 6, .in = {"15"}, .trace = "1:15", .next = 1,
           .frames = 1, .transmitsAfter = 1},
          {.name = "7: granted, first telegram in normal form", .state = 7, .in = {"10"},
           .trace = "7:41100352 7:extra", .next = 8, .frames = 1, .timeouts = 2, .transmits = 2,
           .request = true, .timeoutsAfter = 0, .transmitsAfter = 0},
          {.name = "7: refused, block mode locked", .state = 7, .in = {"41 15"}, .trace = "",
           .next = 1, .frames = 1, .request = true, .requestAfter = false, .lockAfter = true},
          {.name = "7: other answer, handshake again", .state = 7, .in = {"41"}, .trace = "5:02",
           .next = 5, .frames = 1, .transmits = 1, .request = true, .transmitsAfter = 2},
          {.name = "8: DLE, next telegram in block form", .state = 8, .in = {"10"},
           .trace = "8:4210035F94C357", .next = 8, .frames = 2, .timeouts = 2, .transmits = 3,
           .framesAfter = 1, .timeoutsAfter = 0, .transmitsAfter = 0},
          {.name = "8: DLE for the last telegram ends block send", .state = 8, .in = {"10"},
           .trace = "", .next = 1, .frames = 1, .framesAfter = 0},
          {.name = "8: the peer's STX takes the line", .state = 8, .in = {"02"}, .trace = "3:10",
           .next = 3, .frames = 2, .timeouts = 1, .transmits = 1, .framesAfter = 1,
           .timeoutsAfter = 0, .transmitsAfter = 0},
          {.name = "8: NAK repeats in block form", .state = 8, .in = {"15"},
           .trace = "8:4110035DD27D0E", .next = 8, .frames = 1, .transmits = 5,
           .transmitsAfter = 6},
          {.name = "8: refused once too often", .state = 8, .in = {"15"}, .trace = "1:15",
           .next = 1, .frames = 1, .transmits = 6, .request = true, .requestAfter = false},
          {.name = "9: BCC telegram", .state = 9, .in = {"41 42 10 03 10"},
           .trace = "1:10 1:recv", .next = 1, .frames = 1, .queued = {"41 42"}},
          {.name = "9: empty telegram, no answer", .state = 9, .in = {"10 03 13"}, .trace = "",
           .next = 1, .frames = 1},
          {.name = "9: CRC form refused", .state = 9, .in = {"41 42 10 03 A2 39 FA 01"},
           .trace = "1:15", .next = 1, .frames = 1},
          {.name = "9: block mode request despite the lock", .state = 9, .in = {"10 03"},
           .trace = "9:extra 4:10", .next = 4, .frames = 1, .rlock = true},
          {.name = "9: lone DLE, our frame goes", .state = 9, .in = {"10"},
           .trace = "9:41100352", .next = 6, .frames = 1, .timeouts = 2, .timeoutsAfter = 0},
          {.name = "9: other", .state = 9, .in = {"15"}, .trace = "1:15", .next = 1, .frames = 1},
          {.name = "only the last of several clusters counts", .state = 1, .in = {"02", "41"},
           .trace = "", .next = 1},
      },
      true);
  // clang-format on
}

TEST_F(T3964RTabelle, TimerSteps3964RPlus) {
  // clang-format off
  Run(
      {
          {.name = "0: the timer stops", .state = 0, .in = {}, .trace = "", .next = 0},
          {.name = "1: a queued telegram starts", .state = 1, .in = {}, .trace = "5:02",
           .next = 5, .frames = 1, .readyAfter = true},
          {.name = "1: six failures reported", .state = 1, .in = {}, .trace = "1:err3040/6",
           .next = 1, .frames = 1, .transmits = 6, .ready = true, .readyAfter = false},
          {.name = "1: ready", .state = 1, .in = {}, .trace = "1:ready", .next = 1, .ready = true,
           .readyAfter = false},
          {.name = "4: a tick ends block receive and starts ours", .state = 4, .in = {},
           .trace = "5:02", .next = 5, .frames = 1, .readyAfter = true},
          {.name = "4: a tick ends block receive", .state = 4, .in = {}, .trace = "", .next = 1},
          {.name = "2: NAK", .state = 2, .in = {}, .trace = "1:15", .next = 1},
          {.name = "3: NAK", .state = 3, .in = {}, .trace = "1:15", .next = 1},
          {.name = "9: NAK", .state = 9, .in = {}, .trace = "1:15", .next = 1, .frames = 1},
          {.name = "5: STX again", .state = 5, .in = {}, .trace = "5:02", .next = 5, .frames = 1,
           .timeouts = 1, .timeoutsAfter = 2},
          {.name = "5: gives up", .state = 5, .in = {}, .trace = "5:15 5:err3041/3", .next = 1,
           .frames = 1, .timeouts = 2, .timeoutsAfter = 3, .timerAfter = false},
          {.name = "6: no final DLE", .state = 6, .in = {}, .trace = "1:15", .next = 1,
           .frames = 1, .transmitsAfter = 1},
          {.name = "7: handshake again", .state = 7, .in = {}, .trace = "5:02", .next = 5,
           .frames = 1, .request = true, .timeoutsAfter = 1},
          {.name = "7: gives up", .state = 7, .in = {}, .trace = "7:15 7:err3042/3", .next = 1,
           .frames = 1, .timeouts = 2, .request = true, .timeoutsAfter = 3, .timerAfter = false},
          {.name = "8: repeat in normal form", .state = 8, .in = {}, .trace = "8:41100352",
           .next = 8, .frames = 1, .timeoutsAfter = 1},
          {.name = "8: gives up", .state = 8, .in = {}, .trace = "1:err3043/3 1:15", .next = 1,
           .frames = 1, .timeouts = 2, .request = true, .timeoutsAfter = 3, .timerAfter = false,
           .requestAfter = false},
      },
      true);
  // clang-format on
}

// The flags as the application writes them.
TEST(T3964RPlusFlags, WritesFollowLockAndState) {
  platform::VirtualMainLoop loop;
  auto timer = loop.CreateTimer(platform::Milliseconds(1000));
  TProtokollListe a, b;
  Aufzeichnung line;
  T3964RProzedur p(line, *timer, a, b);

  p.SetP3964RPBlockModeSendRequest(true);
  EXPECT_TRUE(p.fP3964RPBlockModeSendRequest);
  p.SetP3964RPBlockModeSendLock(true);
  EXPECT_FALSE(p.fP3964RPBlockModeSendRequest) << "the lock clears the request";
  p.SetP3964RPBlockModeSendRequest(true);
  EXPECT_FALSE(p.fP3964RPBlockModeSendRequest) << "no request under the lock";
  p.SetP3964RPBlockModeSendLock(false);
  p.SetP3964RPBlockModeSendRequest(true);
  EXPECT_TRUE(p.fP3964RPBlockModeSendRequest);

  p.fP3964RPStatus = TP3964RPStatus::p3964rpstConnect;
  p.SetP3964RPBlockModeRecieveEnd(true);
  EXPECT_FALSE(p.fP3964RPBlockModeRecieveEnd) << "only stored during a block receive";
  p.fP3964RPStatus = TP3964RPStatus::p3964rpstBlockModeRecieve;
  p.SetP3964RPBlockModeRecieveEnd(true);
  EXPECT_TRUE(p.fP3964RPBlockModeRecieveEnd);
  p.SetP3964RPBlockModeRecieveEnd(false);
  EXPECT_FALSE(p.fP3964RPBlockModeRecieveEnd);

  p.SetP3964RPBlockModeRecieveLock(true);
  EXPECT_TRUE(p.fP3964RPBlockModeRecieveLock);
  EXPECT_TRUE(p.fP3964RPBlockModeRecieveEnd) << "the lock ends a running block receive";
  p.fP3964RPStatus = TP3964RPStatus::p3964rpstConnect;
  p.SetP3964RPBlockModeRecieveLock(false);
  p.SetP3964RPBlockModeRecieveLock(true);
  EXPECT_FALSE(p.fP3964RPBlockModeRecieveEnd) << "outside block receive the end flag stays off";
}

TEST(T3964RTelegramm, StoredFrames) {
  EXPECT_EQ(Hex(T3964RProzedur::BaueTelegramm(H("01 10"))), "011010100312");
  EXPECT_EQ(Hex(T3964RProzedur::BaueTelegramm("")), "100313");
  EXPECT_EQ(Hex(T3964RProzedur::BaueTelegramm(H("10 10"))), "10101010100313");
  EXPECT_EQ(Hex(T3964RProzedur::BaueTelegramm(H("41"))), "41100352");
}

}  // namespace

// The simulator's 3964R engine against a scripted peer, on a virtual clock.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "tools/simulator/Link3964.h"

using namespace sim;
using namespace std::chrono_literals;

namespace {

constexpr unsigned char STX = ctl::kSTX, ETX = ctl::kETX, DLE = ctl::kDLE, NAK = ctl::kNAK;

Bytes B(std::initializer_list<int> bytes) {
  Bytes out;
  for (const int b : bytes) out += static_cast<char>(b);
  return out;
}

// Records everything the engine does; the line is unpaced.
struct Recorder : LinkListener {
  std::vector<std::pair<Micros, Bytes>> wire;  // what went out, when
  std::vector<RxTelegram> received;
  std::vector<std::pair<Bytes, int>> transmitted;  // data, attempt
  std::vector<std::pair<Bytes, bool>> done;
  std::map<LinkEvent, int> events;
  std::map<Measure, std::vector<Micros>> measured;
  std::function<void(const RxTelegram&)> onReceived;

  Micros Transmit(const Bytes& bytes, Micros now) override {
    wire.emplace_back(now, bytes);
    return now;
  }
  void Received(const RxTelegram& t) override {
    received.push_back(t);
    if (onReceived) onReceived(t);
  }
  void Transmitted(const Bytes& data, Micros, Micros, int attempt) override {
    transmitted.emplace_back(data, attempt);
  }
  void SendDone(const Bytes& data, bool delivered, Micros) override {
    done.emplace_back(data, delivered);
  }
  void Event(LinkEvent e, Micros) override { ++events[e]; }
  void Measured(Measure m, Micros d) override { measured[m].push_back(d); }

  // Everything sent since the last call, as one string.
  Bytes Take() {
    Bytes all;
    for (auto& [t, b] : wire) all += b;
    wire.clear();
    return all;
  }
};

class LinkTest : public ::testing::Test {
 protected:
  void Feed(const Bytes& bytes, Micros at) {
    for (const char c : bytes) engine->Receive(static_cast<unsigned char>(c), at);
  }
  // Runs the clock to `t`, polling at every deadline on the way as the owner would.
  void RunTo(Micros t) {
    while (engine->NextDeadline() <= t) {
      const Micros d = std::max(engine->NextDeadline(), now);
      now = d;
      engine->Poll(d);
    }
    now = t;
    engine->Poll(t);
  }
  LinkConfig config;
  Recorder rec;
  Link3964 link{config, rec};  // the device's high priority
  Link3964* engine = &link;    // the one that Feed and RunTo drive
  Micros now{0};
};

}  // namespace

TEST_F(LinkTest, FrameDoublesDleAndEndsWithDleEtxAndXorOfAllBytes) {
  EXPECT_EQ(Link3964::Frame(B({0x41, 0x42})), B({0x41, 0x42, DLE, ETX, 0x41 ^ 0x42 ^ DLE ^ ETX}));
  EXPECT_EQ(Link3964::Frame(B({DLE, 0x00})), B({DLE, DLE, 0x00, DLE, ETX, DLE ^ ETX}));
  EXPECT_EQ(Link3964::Frame(Bytes()), B({DLE, ETX, DLE ^ ETX}));
}

TEST_F(LinkTest, ReceivesTelegramsWithDoubledDleAndControlCharactersAsData) {
  Feed(B({STX}), 0ms);
  EXPECT_EQ(rec.Take(), B({DLE}));
  // Data that holds STX, ETX, NAK and a doubled DLE.
  const Bytes data = B({0x00, STX, ETX, DLE, NAK, DLE, DLE});
  Feed(Link3964::Frame(data), 5ms);
  EXPECT_EQ(rec.Take(), B({DLE}));
  ASSERT_EQ(rec.received.size(), 1u);
  EXPECT_EQ(rec.received[0].data, data);
  EXPECT_EQ(rec.received[0].status, RxStatus::kOk);
  EXPECT_TRUE(link.Idle());

  // The empty telegram is acknowledged too.
  Feed(B({STX}), 10ms);
  Feed(Link3964::Frame(Bytes()), 10ms);
  EXPECT_EQ(rec.Take(), B({DLE, DLE}));
  ASSERT_EQ(rec.received.size(), 2u);
  EXPECT_EQ(rec.received[1].data, Bytes());

  // Bytes other than STX while idle are ignored.
  Feed(B({DLE, NAK, 0x41}), 20ms);
  EXPECT_EQ(rec.Take(), Bytes());
  EXPECT_EQ(rec.events[LinkEvent::kStrayByte], 3);
}

TEST_F(LinkTest, BrokenTelegramsAreRefusedWithNakAndTheRepetitionIsRecognised) {
  struct Case {
    const char* what;
    Bytes stream;
    RxStatus status;
  };
  Bytes badBcc = Link3964::Frame(B({0x01, 0x02}));
  badBcc.back() = static_cast<char>(badBcc.back() ^ 0x40);
  const std::vector<Case> cases = {
      {"wrong BCC", badBcc, RxStatus::kBccError},
      // A lone DLE inside the data: the NAK comes only at the telegram's end.
      {"DLE before a data byte", B({0x01, DLE, 0x02, DLE, ETX, 0x01 ^ DLE ^ 0x02 ^ DLE ^ ETX}),
       RxStatus::kFormatError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rec = Recorder();
    Feed(B({STX}), now);
    Feed(c.stream.substr(0, c.stream.size() - 1), now);
    EXPECT_EQ(rec.Take(), B({DLE})) << "no answer before the end";
    Feed(c.stream.substr(c.stream.size() - 1), now);
    EXPECT_EQ(rec.Take(), B({NAK}));
    ASSERT_EQ(rec.received.size(), 1u);
    EXPECT_EQ(rec.received[0].status, c.status);
    // The peer repeats; the good copy is taken and flagged as a repetition.
    Feed(B({STX}), now);
    Feed(Link3964::Frame(B({0x01, 0x02})), now);
    EXPECT_EQ(rec.Take(), B({DLE, DLE}));
    ASSERT_EQ(rec.received.size(), 2u);
    EXPECT_EQ(rec.received[1].status, RxStatus::kOk);
    EXPECT_TRUE(rec.received[1].repetition);
  }
}

TEST_F(LinkTest, OverlongTelegramIsRefusedWithoutGrowingWithoutBound) {
  config.maxTelegram = 8;
  Link3964 small(config, rec);
  small.Receive(STX, 0ms);
  for (const char c : Link3964::Frame(Bytes(100, 'x')))
    small.Receive(static_cast<unsigned char>(c), 1ms);
  EXPECT_EQ(rec.Take(), B({DLE, NAK}));
  ASSERT_EQ(rec.received.size(), 1u);
  EXPECT_EQ(rec.received[0].status, RxStatus::kTooLong);
  EXPECT_EQ(rec.received[0].data.size(), 8u);
}

TEST_F(LinkTest, CharacterDelayTimeEndsAStalledTelegramWithNak) {
  Feed(B({STX}), 0ms);
  rec.Take();
  // Nothing after our DLE: NAK once the character delay time has passed, not before.
  RunTo(219ms);
  EXPECT_EQ(rec.Take(), Bytes());
  RunTo(220ms);
  EXPECT_EQ(rec.Take(), B({NAK}));
  EXPECT_EQ(rec.events[LinkEvent::kCharTimeout], 1);

  // Each byte restarts the time.
  Feed(B({STX}), 1000ms);
  Feed(B({0x01}), 1100ms);
  Feed(B({0x02}), 1300ms);
  RunTo(1519ms);
  EXPECT_EQ(rec.Take(), B({DLE}));
  RunTo(1520ms);
  EXPECT_EQ(rec.Take(), B({NAK}));
  EXPECT_EQ(rec.received.back().data, B({0x01, 0x02}));
  EXPECT_EQ(rec.received.back().status, RxStatus::kCharTimeout);
}

TEST_F(LinkTest, SendsATelegramAndCountsItDeliveredOnTheFinalDle) {
  const Bytes data = B({0x00, 0x02, DLE});
  link.Send(data, 0ms);
  EXPECT_EQ(rec.Take(), B({STX}));
  Feed(B({DLE}), 3ms);
  EXPECT_EQ(rec.Take(), Link3964::Frame(data));
  EXPECT_FALSE(link.Idle());
  Feed(B({DLE}), 9ms);
  ASSERT_EQ(rec.done.size(), 1u);
  EXPECT_TRUE(rec.done[0].second);
  EXPECT_TRUE(link.Idle());
  EXPECT_EQ(rec.measured[Measure::kHostAnswer], (std::vector<Micros>{3ms, 6ms}));

  // Two queued telegrams: the second STX follows the first one's final DLE at once.
  link.Send(B({1}), 20ms);
  link.Send(B({2}), 20ms);
  Feed(B({DLE}), 21ms);
  Feed(B({DLE}), 22ms);
  EXPECT_EQ(rec.Take(), B({STX}) + Link3964::Frame(B({1})) + B({STX}));
}

TEST_F(LinkTest, ATelegramIsTransmittedAtMostSixTimesThenGivenUp) {
  // Every way an attempt can fail: no DLE to STX, NAK to STX, a wrong answer to STX, no
  // final DLE, NAK to the telegram, then a wrong final answer.
  link.Send(B({0x41}), 0ms);
  EXPECT_EQ(rec.Take(), B({STX}));
  RunTo(2000ms);  // 1: no answer within the acknowledgement delay time: STX again at once
  EXPECT_EQ(rec.Take(), B({STX}));
  Feed(B({NAK}), 2100ms);  // 2: refused: STX again after the character delay time
  RunTo(2319ms);
  EXPECT_EQ(rec.Take(), Bytes());
  RunTo(2320ms);
  EXPECT_EQ(rec.Take(), B({STX}));
  Feed(B({0x33}), 2400ms);  // 3
  RunTo(2620ms);
  EXPECT_EQ(rec.Take(), B({STX}));
  Feed(B({DLE}), 2700ms);
  EXPECT_EQ(rec.Take(), Link3964::Frame(B({0x41})));
  RunTo(4700ms);  // 4: no final DLE
  EXPECT_EQ(rec.Take(), B({STX}));
  Feed(B({DLE}), 4800ms);
  Feed(B({NAK}), 4801ms);  // 5
  RunTo(5021ms);
  EXPECT_EQ(rec.Take(), Link3964::Frame(B({0x41})) + B({STX}));
  Feed(B({DLE}), 5100ms);
  EXPECT_TRUE(rec.done.empty());
  Feed(B({STX}), 5101ms);  // 6: anything but DLE fails the last attempt
  ASSERT_EQ(rec.done.size(), 1u);
  EXPECT_FALSE(rec.done[0].second);
  RunTo(10000ms);
  EXPECT_EQ(rec.Take(), Link3964::Frame(B({0x41}))) << "nothing more after giving up";
  EXPECT_TRUE(link.Idle());
  EXPECT_EQ(rec.events[LinkEvent::kRepetition], 5);
  EXPECT_EQ(rec.events[LinkEvent::kGivenUp], 1);
  EXPECT_EQ(rec.events[LinkEvent::kGrantTimeout], 1);
  EXPECT_EQ(rec.events[LinkEvent::kAckTimeout], 1);
  EXPECT_EQ(rec.events[LinkEvent::kNakReceived], 2);
  EXPECT_EQ(rec.events[LinkEvent::kWrongAnswer], 2);
  ASSERT_EQ(rec.transmitted.size(), 3u);
  EXPECT_EQ(rec.transmitted[2].second, 6) << "the attempt number counts every STX";

  // The count starts afresh for the next telegram.
  link.Send(B({0x42}), 10000ms);
  for (int i = 0; i < 5; ++i) RunTo(10000ms + 2000ms * (i + 1));
  EXPECT_EQ(rec.Take(), Bytes(6, STX));
  EXPECT_EQ(rec.done.size(), 1u);
  RunTo(22000ms);
  EXPECT_EQ(rec.done.size(), 2u);
}

TEST_F(LinkTest, ConfiguredAttemptsAreHonoured) {
  config.attempts = 2;
  Link3964 two(config, rec);
  two.Send(B({1}), 0ms);
  two.Poll(2000ms);
  two.Poll(4000ms);
  EXPECT_EQ(rec.Take(), Bytes(2, STX));
  ASSERT_EQ(rec.done.size(), 1u);
  EXPECT_FALSE(rec.done[0].second);
}

TEST_F(LinkTest, CrossingStxGivesWayAndSendsAfterwards) {
  config.highPriority = false;
  Link3964 low(config, rec);
  engine = &low;
  low.Send(B({0x51}), 0ms);
  EXPECT_EQ(rec.Take(), B({STX}));
  // The peer's STX crosses ours: we give way and take its telegram first.
  Feed(B({STX}), 1ms);
  EXPECT_EQ(rec.Take(), B({DLE}));
  Feed(Link3964::Frame(B({0x61})), 2ms);
  EXPECT_EQ(rec.Take(), B({DLE, STX})) << "our telegram goes right after";
  ASSERT_EQ(rec.received.size(), 1u);
  EXPECT_EQ(rec.received[0].data, B({0x61}));
  Feed(B({DLE}), 3ms);
  Feed(B({DLE}), 4ms);
  EXPECT_EQ(rec.Take(), Link3964::Frame(B({0x51})));
  ASSERT_EQ(rec.transmitted.size(), 1u);
  EXPECT_EQ(rec.transmitted[0].second, 1) << "a conflict costs no attempt";
  EXPECT_EQ(rec.events[LinkEvent::kConflict], 1);
  EXPECT_TRUE(rec.done[0].second);
}

TEST_F(LinkTest, CrossingStxWithTheHighPriorityKeepsTheTelegram) {
  link.Send(B({0x51}), 0ms);
  EXPECT_EQ(rec.Take(), B({STX}));
  // The peer's STX crosses ours: it stays unanswered, the peer gives way with DLE.
  Feed(B({STX}), 1ms);
  EXPECT_EQ(rec.Take(), Bytes());
  EXPECT_EQ(rec.events[LinkEvent::kConflict], 1);
  Feed(B({DLE}), 2ms);
  EXPECT_EQ(rec.Take(), Link3964::Frame(B({0x51})));
  Feed(B({DLE}), 3ms);
  ASSERT_EQ(rec.done.size(), 1u);
  EXPECT_TRUE(rec.done[0].second);
  EXPECT_EQ(rec.transmitted[0].second, 1) << "a conflict costs no attempt";
  // Then the peer asks again and is served.
  Feed(B({STX}), 2000ms);
  Feed(Link3964::Frame(B({0x61})), 2001ms);
  EXPECT_EQ(rec.Take(), B({DLE, DLE}));
  ASSERT_EQ(rec.received.size(), 1u);
  EXPECT_EQ(rec.received[0].data, B({0x61}));
}

TEST_F(LinkTest, PeerThatAlsoGivesWayIsUnderstood) {
  // Both give way: the peer's DLE arrives before its telegram, which it sends because it
  // took our DLE for its grant.
  config.highPriority = false;
  Link3964 low(config, rec);
  engine = &low;
  low.Send(B({0x51}), 0ms);
  Feed(B({STX}), 1ms);
  EXPECT_EQ(rec.Take(), B({STX, DLE}));
  Feed(B({DLE}) + Link3964::Frame(B({0x0E, 0x00, 0x40})), 2ms);
  EXPECT_EQ(rec.Take(), B({DLE, STX}));
  ASSERT_EQ(rec.received.size(), 1u);
  EXPECT_EQ(rec.received[0].status, RxStatus::kOk);
  EXPECT_EQ(rec.received[0].data, B({0x0E, 0x00, 0x40}));
  // Outside a conflict the same stream is a broken telegram.
  Feed(B({DLE}), 3ms);
  Feed(B({DLE}), 4ms);
  rec.Take();
  Feed(B({STX}), 5ms);
  Feed(B({DLE}) + Link3964::Frame(B({0x0E, 0x00, 0x40})), 6ms);
  EXPECT_EQ(rec.Take(), B({DLE, NAK}));
}

TEST_F(LinkTest, FaultsRefuseTheFirstTelegramsAndIgnoreTheFirstStx) {
  config.nakFirst = 2;
  config.ignoreStx = 1;
  Link3964 faulty(config, rec);
  auto telegram = [&](Micros at) {
    for (const char c : B({STX}) + Link3964::Frame(B({7})))
      faulty.Receive(static_cast<unsigned char>(c), at);
  };
  faulty.Receive(STX, 0ms);
  EXPECT_EQ(rec.Take(), Bytes()) << "the first STX stays unanswered";
  EXPECT_EQ(rec.events[LinkEvent::kStxIgnored], 1);
  telegram(10ms);
  telegram(20ms);
  telegram(30ms);
  EXPECT_EQ(rec.Take(), B({DLE, NAK, DLE, NAK, DLE, DLE}));
  ASSERT_EQ(rec.received.size(), 3u);
  EXPECT_EQ(rec.received[0].status, RxStatus::kNakInjected);
  EXPECT_EQ(rec.received[1].status, RxStatus::kNakInjected);
  EXPECT_EQ(rec.received[2].status, RxStatus::kOk);
  EXPECT_TRUE(rec.received[2].repetition);
}

TEST_F(LinkTest, AnswerSentFromTheReceiveHandlerStartsAtOnce) {
  rec.onReceived = [&](const RxTelegram& t) { link.Send(B({0x00, 0x02}), t.end); };
  Feed(B({STX}) + Link3964::Frame(B({1})), 0ms);
  EXPECT_EQ(rec.Take(), B({DLE, DLE, STX}));
}

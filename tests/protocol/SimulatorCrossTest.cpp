// The component against the device simulator's independent, byte-stream 3964R engine, in
// one process on the virtual clock: every write of one side reaches the other side at once,
// each write of the simulator arriving as a cluster of its own. Telegrams go both ways, with
// DLEs in the data and with both sides asking for the line at the same moment.
#include <deque>

#include "tests/protocol/KomponentenFixture.h"
#include "tools/simulator/Link3964.h"

using prottest::Hex;

namespace {

struct SimSide : sim::LinkListener {
  std::deque<sim::Bytes> out;
  std::vector<std::string> received;
  std::vector<std::string> delivered;
  int failed = 0;

  sim::Micros Transmit(const sim::Bytes& bytes, sim::Micros now) override {
    out.push_back(bytes);
    return now;
  }
  void Received(const sim::RxTelegram& t) override {
    if (t.status == sim::RxStatus::kOk) received.push_back(Hex(t.data));
  }
  void Transmitted(const sim::Bytes&, sim::Micros, sim::Micros, int) override {}
  void SendDone(const sim::Bytes& data, bool ok, sim::Micros) override {
    if (ok)
      delivered.push_back(Hex(data));
    else
      ++failed;
  }
  void Event(sim::LinkEvent, sim::Micros) override {}
  void Measured(sim::Measure, sim::Micros) override {}
};

class SimulatorCross : public Komponente {
 protected:
  void SetUp() override {
    Start(TProtokoll::p3964R, 2000);
    line.onWrite = [this](const ByteString& bytes) {
      for (char c : bytes) peer->Receive(static_cast<unsigned char>(c), Now());
    };
    p.OnDataRecieveEvent = [this](TObject*) {
      std::uint32_t size = 0;
      while (p.GetNextClusterSize() > 0) ours.push_back(Hex(p.ReadNextCluster(size)));
    };
    p.OnSuccessfulReadyEvent = [this](TObject*) { ++ready; };
  }

  sim::Micros Now() const { return std::chrono::duration_cast<sim::Micros>(loop.Now()); }

  // Runs both sides in steps of one millisecond until `done` or the limit.
  template <typename Done>
  bool RunUntil(Done done, int limitMs = 120000) {
    for (int ms = 0; ms < limitMs; ++ms) {
      while (!side.out.empty()) {
        const sim::Bytes cluster = side.out.front();
        side.out.pop_front();
        line.Receive({cluster});
      }
      if (done()) return true;
      loop.Advance(platform::Milliseconds(1));
      peer->Poll(Now());
    }
    return done();
  }

  sim::LinkConfig config;
  SimSide side;
  sim::Link3964 link{config, side};  // the device's high priority
  sim::Link3964* peer = &link;       // the engine on the line
  std::vector<std::string> ours;
  int ready = 0;
};

TEST_F(SimulatorCross, TelegramsBothWays) {
  std::vector<std::string> toSim, toUs;
  for (int i = 0; i < 12; ++i) {
    const ByteString a = {static_cast<char>(i), ctl::DLE, 'A', ctl::DLE, ctl::DLE, ctl::ETX};
    const ByteString b = {ctl::STX, static_cast<char>(0x80 + i), ctl::DLE};
    p.SendeString(a);
    toSim.push_back(Hex(a));
    link.Send(b, Now());
    toUs.push_back(Hex(b));
    ASSERT_TRUE(RunUntil([&] { return side.delivered.size() == toUs.size(); }));
  }
  ASSERT_TRUE(RunUntil([&] { return side.received.size() == toSim.size() && ready > 0; }));
  EXPECT_EQ(side.received, toSim);
  EXPECT_EQ(ours, toUs);
  EXPECT_EQ(side.failed, 0);
  EXPECT_EQ(Events(), "");
}

TEST_F(SimulatorCross, BothAskForTheLineAtOnceAgainstTheHighPriority) {
  // The two STX cross; the simulator keeps its request, so we give way at once, take its
  // telegram first and send ours at the next tick of the answer timer.
  link.Send("\x01\x02", Now());
  p.SendeString("\x03\x04");
  ASSERT_TRUE(RunUntil([&] { return ours.size() == 1; }, 5));
  EXPECT_EQ(ours, std::vector<std::string>{"0102"});
  EXPECT_TRUE(side.received.empty());
  const auto gaveWay = loop.Now();
  ASSERT_TRUE(RunUntil([&] { return side.received.size() == 1; }));
  EXPECT_GE(loop.Now() - gaveWay, platform::Milliseconds(1900)) << "sent at the next tick";
  EXPECT_LE(loop.Now() - gaveWay, platform::Milliseconds(2100));
  ASSERT_TRUE(RunUntil([&] { return ready > 0 && link.Idle(); }));
  EXPECT_EQ(side.received, std::vector<std::string>{"0304"});
  EXPECT_EQ(ours, std::vector<std::string>{"0102"}) << "delivered once";
  EXPECT_EQ(side.delivered, std::vector<std::string>{"0102"});
  EXPECT_EQ(side.failed, 0);
  EXPECT_EQ(Events(), "");
}

TEST_F(SimulatorCross, BothAskForTheLineAtOnceAgainstTheLowPriority) {
  // The simulator's STX is on its way when ours goes out: the two STX cross. Both sides give
  // way, so each takes the other's DLE for its grant; the garbled exchange is refused and
  // repeated. Every telegram arrives, but the simulator, having counted its first
  // transmission as failed after we had acknowledged it, may deliver it twice.
  config.highPriority = false;
  sim::Link3964 low(config, side);
  peer = &low;
  low.Send("\x01\x02", Now());
  p.SendeString("\x03\x04");
  ASSERT_TRUE(RunUntil([&] { return side.received.size() == 1 && side.delivered.size() == 1; }));
  ASSERT_TRUE(RunUntil([&] { return ready > 0 && low.Idle(); }));
  EXPECT_EQ(side.received, std::vector<std::string>{"0304"});
  ASSERT_FALSE(ours.empty());
  for (const std::string& t : ours) EXPECT_EQ(t, "0102");
  EXPECT_EQ(side.failed, 0);
  EXPECT_TRUE(p.ToSendListe.empty());
  EXPECT_EQ(Events(), "");
}

}  // namespace

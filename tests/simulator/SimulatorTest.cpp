// The simulated device as a whole (line, link procedure, flash loader, report) driven by a
// scripted host on a virtual clock.
#include <gtest/gtest.h>

#include <random>

#include "tools/simulator/Options.h"
#include "tools/simulator/Report.h"
#include "tools/simulator/Simulator.h"

using namespace sim;
using namespace std::chrono_literals;

namespace {

constexpr unsigned char STX = ctl::kSTX, DLE = ctl::kDLE, NAK = ctl::kNAK;

Bytes B(std::initializer_list<int> bytes) {
  Bytes out;
  for (const int b : bytes) out += static_cast<char>(b);
  return out;
}

Bytes Block(std::uint32_t address, unsigned char fill) {
  Bytes block = B({static_cast<int>(address >> 16), static_cast<int>((address >> 8) & 0xFF),
                   static_cast<int>(address & 0xFF)});
  return block + Bytes(64, static_cast<char>(fill));
}

const Bytes kFinish = B({0xF0, 0x0A, 0x01});
const Bytes kLeave = B({0xF0, 0x0A, 0x00});

// A host on a virtual clock: everything the device sends is collected with its time.
class Host {
 public:
  explicit Host(const SimConfig& config) : sim(config) {}

  void Send(const Bytes& bytes) { sim.Input(bytes, now); }

  // Runs the clock to `t`, stopping at every moment the device has something due.
  void RunTo(Micros t) {
    while (sim.NextDeadline() <= t) {
      now = std::max(now, sim.NextDeadline());
      Step();
    }
    now = std::max(now, t);
    Step();
  }
  // Runs until `n` bytes came or `limit` passed; takes and returns them.
  Bytes Expect(std::size_t n, Micros limit = 60s) {
    const Micros end = now + limit;
    Step();
    while (got.size() < n && sim.NextDeadline() <= end) {
      now = std::max(now, sim.NextDeadline());
      Step();
    }
    const std::size_t k = std::min(n, got.size());
    Bytes out = got.substr(0, k);
    got.erase(0, k);
    times.erase(times.begin(), times.begin() + static_cast<long>(k));
    return out;
  }
  void SendTelegram(const Bytes& data) {
    Send(B({STX}));
    ASSERT_EQ(Expect(1), B({DLE}));
    Send(Link3964::Frame(data));
    ASSERT_EQ(Expect(1), B({DLE}));
  }
  void ExpectTelegram(const Bytes& data) {
    ASSERT_EQ(Expect(1), B({STX}));
    Send(B({DLE}));
    const Bytes frame = Link3964::Frame(data);
    ASSERT_EQ(HexBytes(Expect(frame.size())), HexBytes(frame));
    Send(B({DLE}));
    RunTo(now + sim.GetLine().ByteTime());  // until the DLE has arrived
  }

  Simulator sim;
  Micros now{0};
  Bytes got;                  // sent by the device, not yet taken
  std::vector<Micros> times;  // when each byte of `got` was released

 private:
  void Step() {
    sim.Advance(now);
    const Bytes out = sim.TakeOutput();
    got += out;
    times.insert(times.end(), out.size(), now);
  }
};

SimConfig Device(std::uint8_t revision, std::uint8_t major, std::uint8_t minor) {
  SimConfig c;
  c.device.revision = revision;
  c.device.major = major;
  c.device.minor = minor;
  return c;
}

}  // namespace

TEST(SimulatedDevice, FlashDialogueWritesBlocksAtTheirLoadAddresses) {
  Host host(Device(1, 13, 29));
  host.SendTelegram(FlashLoader::EntryCommand());
  host.ExpectTelegram(B({0x00, 0x02, 0x01, 0x0D, 0x1D}));
  EXPECT_TRUE(host.sim.Device().InFlashMode());

  Bytes first = Block(0xE0000, 0x10);  // DLE everywhere: doubled on the line
  first[3] = 0x0D;
  first[4] = 0x1E;
  host.SendTelegram(first);
  host.SendTelegram(Block(0xEFFC0, 0x55));  // block 1023
  host.SendTelegram(Block(0xF0000, 0x66));  // block 1024
  host.SendTelegram(Block(0xFFFC0, 0x77));  // block 2047
  EXPECT_FALSE(host.sim.DialogueComplete());
  host.SendTelegram(kFinish);
  host.ExpectTelegram(B({0x00, 0x02, 0xF0, 0x0A, 0x01}));
  EXPECT_TRUE(host.sim.DialogueComplete());
  EXPECT_FALSE(host.sim.Device().InFlashMode());
  EXPECT_EQ(host.sim.Device().Ending(), "finish");

  const auto& flash = host.sim.Device().Flash();
  ASSERT_EQ(flash.size(), 131072u);
  EXPECT_EQ(flash[0], 0x0D);
  EXPECT_EQ(flash[1], 0x1E);
  EXPECT_EQ(flash[63], 0x10);
  EXPECT_EQ(flash[64], 0xFF);
  EXPECT_EQ(flash[65535], 0x55);
  EXPECT_EQ(flash[65536], 0x66);
  EXPECT_EQ(flash[131071], 0x77);
  std::size_t written = 0;
  for (const auto b : flash) written += b != 0xFF;
  EXPECT_EQ(written, 4u * 64u);

  std::vector<std::uint32_t> addresses;
  for (const auto& b : host.sim.Device().Blocks()) addresses.push_back(b.address);
  EXPECT_EQ(addresses, (std::vector<std::uint32_t>{0xE0000, 0xEFFC0, 0xF0000, 0xFFFC0}));
  EXPECT_EQ(host.sim.Device().Duplicates(), 0u);
  EXPECT_TRUE(host.sim.Quiet());
}

TEST(SimulatedDevice, IdentificationAndFinalAnswersFollowTheOptions) {
  {
    SimConfig c;
    c.device.shortId = true;
    c.device.finishAnswer = 0xF0;
    Host host(c);
    host.SendTelegram(FlashLoader::EntryCommand());
    host.ExpectTelegram(B({0x00, 0x02}));
    host.SendTelegram(kFinish);
    host.ExpectTelegram(B({0x00, 0x02, 0xF0, 0x0A, 0xF0}));
  }
  {
    Host host(Device(2, 4, 0));  // a revision the flasher has no image for: it leaves
    host.SendTelegram(FlashLoader::EntryCommand());
    host.ExpectTelegram(B({0x00, 0x02, 0x02, 0x04, 0x00}));
    host.SendTelegram(kLeave);
    host.ExpectTelegram(B({0x00, 0x02, 0xF0, 0x0A, 0x00}));
    EXPECT_EQ(host.sim.Device().Ending(), "leave");
    EXPECT_TRUE(host.sim.DialogueComplete());
  }
  {
    SimConfig c;
    c.device.finishAnswer.reset();
    Host host(c);
    host.SendTelegram(FlashLoader::EntryCommand());
    host.ExpectTelegram(B({0x00, 0x02, 0x00, 0x03, 0x00}));
    host.SendTelegram(kFinish);
    EXPECT_TRUE(host.sim.DialogueComplete()) << "no answer to wait for";
    EXPECT_EQ(host.Expect(1, 30s), Bytes()) << "and none comes";
  }
}

TEST(SimulatedDevice, AnswerDelayPostponesTheAnswersOnly) {
  SimConfig c;
  c.device.answerDelay = 150ms;
  Host host(c);
  host.Send(B({STX}));
  EXPECT_EQ(host.Expect(1), B({DLE}));
  EXPECT_EQ(host.now, 0ms) << "the link procedure answers at once";
  host.Send(Link3964::Frame(FlashLoader::EntryCommand()));
  EXPECT_EQ(host.Expect(1), B({DLE}));
  const Micros acknowledged = host.now;
  EXPECT_EQ(host.Expect(1), B({STX}));
  EXPECT_EQ(host.now - acknowledged, 150ms);
}

TEST(SimulatedDevice, RejectsWhatIsNoBlockAndMarksDuplicates) {
  Host host(SimConfig{});
  host.SendTelegram(Block(0xE0000, 0x01));  // before the entry command
  host.SendTelegram(FlashLoader::EntryCommand());
  host.ExpectTelegram(B({0x00, 0x02, 0x00, 0x03, 0x00}));
  host.SendTelegram(Block(0xE0041, 0x02));                // not on a block boundary
  host.SendTelegram(Block(0xDFFC0, 0x03));                // below the flash
  host.SendTelegram(Block(0x100000 & 0xFFFFFF, 0x04));    // above it (0x10 0x00 0x00)
  host.SendTelegram(Block(0xE0080, 0x05).substr(0, 66));  // one byte short
  host.SendTelegram(B({0x41, 0x42}));                     // nothing known
  host.SendTelegram(Block(0xE0040, 0x06));
  host.SendTelegram(Block(0xE0040, 0x06));  // repeated unchanged
  host.SendTelegram(Block(0xE0040, 0x07));  // repeated with other data

  const FlashLoader& device = host.sim.Device();
  std::vector<std::string> reasons;
  for (const auto& r : device.Rejected()) reasons.push_back(r.reason + (r.blockLike ? "" : " *"));
  EXPECT_EQ(reasons, (std::vector<std::string>{
                         "block outside flash mode", "address 0x0E0041 not on a block boundary",
                         "address 0x0DFFC0 outside the flash", "address 0x100000 outside the flash",
                         "block of 66 bytes", "unknown telegram *"}));
  ASSERT_EQ(device.Blocks().size(), 3u);
  EXPECT_FALSE(device.Blocks()[0].duplicate);
  EXPECT_TRUE(device.Blocks()[1].duplicate);
  EXPECT_FALSE(device.Blocks()[1].changed);
  EXPECT_TRUE(device.Blocks()[2].changed);
  EXPECT_EQ(device.Duplicates(), 2u);
  EXPECT_EQ(device.Flash()[64], 0x07) << "the last copy wins";
  EXPECT_EQ(device.Flash()[0], 0xFF) << "nothing written outside flash mode";

  // A new dialogue starts a new count of duplicates.
  host.SendTelegram(FlashLoader::EntryCommand());
  host.ExpectTelegram(B({0x00, 0x02, 0x00, 0x03, 0x00}));
  host.SendTelegram(Block(0xE0040, 0x08));
  EXPECT_FALSE(device.Blocks().back().duplicate);
  EXPECT_EQ(device.Dialogues(), 2);
}

TEST(SimulatedDevice, HowTheStreamIsCutIntoReadsMakesNoDifference) {
  // The host's whole side of a dialogue, answers included, as one byte stream.
  const Bytes script = B({STX}) + Link3964::Frame(FlashLoader::EntryCommand()) + B({DLE, DLE}) +
                       B({STX}) + Link3964::Frame(Block(0xE0000, 0x10)) + B({STX}) +
                       Link3964::Frame(Block(0xE0040, 0x02)) + B({STX}) + Link3964::Frame(kFinish) +
                       B({DLE, DLE});
  auto run = [&](const std::vector<std::size_t>& cuts) {
    Host host(SimConfig{});
    std::size_t pos = 0;
    for (std::size_t i = 0; pos < script.size(); ++i) {
      const std::size_t n = cuts[i % cuts.size()];
      host.Send(script.substr(pos, n));
      pos += n;
      host.RunTo(host.now + 1ms);
    }
    host.RunTo(host.now + 1ms);
    EXPECT_TRUE(host.sim.DialogueComplete());
    EXPECT_EQ(host.sim.Device().Blocks().size(), 2u);
    return HexBytes(host.got);
  };
  const std::string whole = run({script.size()});
  const Bytes expected = B({DLE, DLE, STX}) + Link3964::Frame(B({0, 2, 0, 3, 0})) +
                         B({DLE, DLE, DLE, DLE, DLE, DLE, STX}) +
                         Link3964::Frame(FlashLoader::FinalAnswer(0x01));
  EXPECT_EQ(whole, HexBytes(expected));
  EXPECT_EQ(run({1}), whole);
  EXPECT_EQ(run({7, 3}), whole);
  std::mt19937 random(5);
  std::vector<std::size_t> cuts;
  for (int i = 0; i < 50; ++i) cuts.push_back(1 + random() % 20);
  EXPECT_EQ(run(cuts), whole);
}

TEST(SimulatedDevice, PacedLineTakesTenBitTimesPerByteBothWays) {
  SimConfig c;
  c.line.baud = 9600;
  Host host(c);
  const double byteUs = 10e6 / 9600;  // 1041.67 us
  auto us = [](Micros t) { return static_cast<double>(t.count()); };

  host.Send(B({STX}));  // at 0: it has arrived after one byte time, the DLE after another
  EXPECT_EQ(host.Expect(1), B({DLE}));
  EXPECT_NEAR(us(host.now), 2 * byteUs, 2.0);

  const Micros t0 = host.now;
  const Bytes frame = Link3964::Frame(FlashLoader::EntryCommand());  // 17 bytes
  host.Send(frame);
  EXPECT_EQ(host.Expect(1), B({DLE}));
  EXPECT_NEAR(us(host.now - t0), (17 + 1) * byteUs, 2.0);
  EXPECT_EQ(host.Expect(1), B({STX}));
  EXPECT_NEAR(us(host.now - t0), (17 + 2) * byteUs, 2.0);
  host.Send(B({DLE}));
  const Micros t1 = host.now;
  const Bytes id = host.Expect(8);
  ASSERT_EQ(id, Link3964::Frame(B({0, 2, 0, 3, 0})));
  // One byte time for our DLE to arrive, then the eight bytes one after the other.
  EXPECT_NEAR(us(host.now - t1), 9 * byteUs, 2.0);

  // A whole dialogue with a host that answers at once takes exactly its bytes' wire time.
  host.Send(B({DLE}));
  host.RunTo(host.now + 5ms);
  for (int k = 0; k < 20; ++k) host.SendTelegram(Block(0xE0000 + 64 * k, 0x10));
  host.SendTelegram(kFinish);
  host.ExpectTelegram(FlashLoader::FinalAnswer(0x01));
  const auto& line = host.sim.GetLine();
  const double wire = static_cast<double>(line.BytesReceived() + line.BytesSent()) * byteUs;
  const double exchange = us(host.sim.LastByte() - host.sim.FirstByte());
  EXPECT_GT(exchange, wire * 0.99);  // minus the 5 ms pause above
  EXPECT_LT(exchange - 5000, wire * 1.01);
}

TEST(SimulatedDevice, LineFaultsAreSeededAndRepeatable) {
  auto run = [](std::uint64_t seed, double drop, double corrupt) {
    SimConfig c;
    c.line.seed = seed;
    c.line.dropRate = drop;
    c.line.corruptRate = corrupt;
    Simulator sim(c);
    // 2000 STX, each answered with a DLE that the faults may hit.
    for (int i = 0; i < 2000; ++i) {
      const Micros t = std::chrono::seconds(i);
      sim.Input(B({STX}), t);
      sim.Advance(t + 500ms);  // DLE, then the reception times out: NAK
    }
    return std::make_pair(sim.TakeOutput(), sim.GetLine().Faults());
  };
  const auto [out1, faults1] = run(7, 0.05, 0.10);
  const auto [out2, faults2] = run(7, 0.05, 0.10);
  EXPECT_EQ(out1, out2) << "same seed, same faults";
  ASSERT_EQ(faults1.size(), faults2.size());
  const auto [out3, faults3] = run(8, 0.05, 0.10);
  EXPECT_NE(out1, out3);

  int dropped = 0, corrupted = 0;
  for (const auto& f : faults1) {
    if (f.replacement < 0) {
      ++dropped;
    } else {
      ++corrupted;
      EXPECT_NE(f.replacement, f.original);
    }
  }
  // 4000 bytes sent: about 200 lost and 400 changed.
  EXPECT_GT(dropped, 120);
  EXPECT_LT(dropped, 280);
  EXPECT_GT(corrupted, 300);
  EXPECT_LT(corrupted, 500);
  EXPECT_EQ(out1.size(), 4000u - static_cast<std::size_t>(dropped));

  EXPECT_EQ(run(7, 0, 0).second.size(), 0u);
  EXPECT_EQ(run(7, 1, 0).first, Bytes()) << "everything lost";
}

TEST(SimulatedDevice, MuteDeviceAnswersNothing) {
  SimConfig c;
  c.mute = true;
  Host host(c);
  host.Send(B({STX}) + Link3964::Frame(FlashLoader::EntryCommand()));
  host.RunTo(60s);
  EXPECT_EQ(host.got, Bytes());
  EXPECT_EQ(host.sim.GetLine().BytesReceived(), 18u);
  EXPECT_EQ(host.sim.Device().Dialogues(), 0);
}

TEST(SimulatedDevice, HangupComesOnceTheLastBlockIsAcknowledged) {
  SimConfig c;
  c.hangupAfter = 2;
  c.line.baud = 9600;
  Host host(c);
  host.SendTelegram(FlashLoader::EntryCommand());
  host.ExpectTelegram(B({0x00, 0x02, 0x00, 0x03, 0x00}));
  host.SendTelegram(Block(0xE0000, 1));
  EXPECT_FALSE(host.sim.HangupDue(host.now + 10s));
  host.Send(B({STX}));
  ASSERT_EQ(host.Expect(1), B({DLE}));
  host.Send(Link3964::Frame(Block(0xE0040, 2)));
  host.Send(B({STX}));  // the next block is already on its way: it gets no answer
  EXPECT_EQ(host.Expect(1), B({DLE}));
  EXPECT_TRUE(host.sim.HangupDue(host.now));
  EXPECT_FALSE(host.sim.HangupDue(host.now - 1us));
  host.RunTo(host.now + 10s);
  EXPECT_EQ(host.got, Bytes());
}

TEST(SimulatedDevice, HangupAfterTheAnswerComesWithItsAcknowledgement) {
  SimConfig c;
  c.hangupAfterAnswer = true;
  Host host(c);
  host.SendTelegram(FlashLoader::EntryCommand());
  host.ExpectTelegram(B({0x00, 0x02, 0x00, 0x03, 0x00}));
  EXPECT_FALSE(host.sim.HangupDue(host.now + 10s)) << "the identification is no final answer";
  host.SendTelegram(Block(0xE0000, 1));
  host.SendTelegram(kFinish);
  ASSERT_EQ(host.Expect(1), B({STX}));
  host.Send(B({DLE}));
  const Bytes frame = Link3964::Frame(B({0x00, 0x02, 0xF0, 0x0A, 0x01}));
  ASSERT_EQ(HexBytes(host.Expect(frame.size())), HexBytes(frame));
  EXPECT_FALSE(host.sim.HangupDue(host.now + 1s)) << "not before the acknowledgement";
  host.Send(B({DLE}));
  host.RunTo(host.now + host.sim.GetLine().ByteTime());
  EXPECT_TRUE(host.sim.HangupDue(host.now));
  EXPECT_TRUE(host.sim.HangupAfterAcknowledgement());
}

TEST(SimulatedDevice, ConflictsAndRepetitionsAreCountedInTheReport) {
  SimConfig c;
  c.link.nakFirst = 1;
  c.link.highPriority = false;
  Host host(c);
  // The entry command is refused once, then taken.
  host.Send(B({STX}));
  host.Expect(1);
  host.Send(Link3964::Frame(FlashLoader::EntryCommand()));
  EXPECT_EQ(host.Expect(1), B({NAK}));
  host.SendTelegram(FlashLoader::EntryCommand());
  // The device's STX for its identification crosses the host's STX.
  EXPECT_EQ(host.Expect(1), B({STX}));
  host.Send(B({STX}));
  EXPECT_EQ(host.Expect(1), B({DLE}));
  host.Send(Link3964::Frame(Block(0xE0000, 0x33)));
  EXPECT_EQ(host.Expect(2), B({DLE, STX}));
  host.Send(B({NAK}));  // refuse the device's first try
  host.ExpectTelegram(B({0x00, 0x02, 0x00, 0x03, 0x00}));

  RunInfo info{"signal", 1, {{"seed", "1"}}};
  const std::string json = ReportJson(host.sim, info);
  for (const char* expected :
       {"\"end\": \"signal\"", "\"host_opens\": 1", "\"settings\": {\"seed\": 1}",
        "\"identification\": \"00 02 00 03 00\"", "\"conflicts\": 1", "\"naks_sent\": 1",
        "\"naks_received\": 1", "\"host_repetitions\": 1", "\"device_repetitions\": 1",
        "\"blocks_received\": 1", "\"duplicates\": 0", "\"in_flash_mode\": true",
        "\"status\": \"nak-injected\", \"repetition\": false",
        "\"status\": \"delivered\", \"attempt\": 2", "{\"address\": \"0x0E0000\"",
        "\"timeouts\": {\"char\": 0, \"grant\": 0, \"ack\": 0}"}) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
  }
}

TEST(SimulatedDevice, ReportSummarisesTurnaroundsByNearestRank) {
  std::vector<Micros> values;
  for (int i = 100; i >= 1; --i) values.push_back(Micros{i});
  const Summary s = Summarize(values);
  EXPECT_EQ(s.count, 100u);
  EXPECT_EQ(s.min, Micros{1});
  EXPECT_EQ(s.median, Micros{50});
  EXPECT_EQ(s.p99, Micros{99});
  EXPECT_EQ(s.max, Micros{100});
  EXPECT_EQ(s.total, Micros{5050});
  const Summary one = Summarize({Micros{7}});
  EXPECT_EQ(one.median, Micros{7});
  EXPECT_EQ(one.p99, Micros{7});
  EXPECT_EQ(Summarize({}).count, 0u);
  EXPECT_EQ(JsonString("a\"b\\c\n"), "\"a\\\"b\\\\c\\u000a\"");
}

TEST(SimulatorOptions, ParsesEveryOptionAndRefusesBadValues) {
  Options o;
  std::string error;
  ASSERT_EQ(ParseOptions({"--revision",
                          "1",
                          "--version=13.29",
                          "--short-id",
                          "--final-answer",
                          "0xF0",
                          "--leave-answer",
                          "none",
                          "--answer-delay",
                          "12.5",
                          "--baud",
                          "9600",
                          "--char-delay",
                          "100",
                          "--ack-delay",
                          "500",
                          "--attempts",
                          "3",
                          "--priority",
                          "low",
                          "--attach",
                          "/dev/pts/9",
                          "--nak-first",
                          "2",
                          "--drop-rate",
                          "0.01",
                          "--corrupt-rate",
                          "0.02",
                          "--seed",
                          "0x10",
                          "--ignore-stx",
                          "1",
                          "--mute",
                          "--hangup-after",
                          "5",
                          "--hangup-after-answer",
                          "--once",
                          "--linger",
                          "100",
                          "--time-limit",
                          "2.5",
                          "--name",
                          "X",
                          "--no-register",
                          "--report",
                          "r.json",
                          "--flash-out",
                          "f.bin",
                          "--verbose"},
                         o, error),
            ParseResult::kRun)
      << error;
  const SimConfig& c = o.config;
  EXPECT_EQ(c.device.revision, 1);
  EXPECT_EQ(c.device.major, 13);
  EXPECT_EQ(c.device.minor, 29);
  EXPECT_TRUE(c.device.shortId);
  EXPECT_EQ(c.device.finishAnswer, std::optional<std::uint8_t>(0xF0));
  EXPECT_FALSE(c.device.leaveAnswer.has_value());
  EXPECT_EQ(c.device.answerDelay, 12500us);
  EXPECT_EQ(c.line.baud, 9600u);
  EXPECT_EQ(c.link.charDelay, 100ms);
  EXPECT_EQ(c.link.ackDelay, 500ms);
  EXPECT_EQ(c.link.attempts, 3);
  EXPECT_FALSE(c.link.highPriority);
  EXPECT_EQ(o.attach, "/dev/pts/9");
  EXPECT_EQ(c.link.nakFirst, 2);
  EXPECT_DOUBLE_EQ(c.line.dropRate, 0.01);
  EXPECT_DOUBLE_EQ(c.line.corruptRate, 0.02);
  EXPECT_EQ(c.line.seed, 16u);
  EXPECT_EQ(c.link.ignoreStx, 1);
  EXPECT_TRUE(c.mute);
  EXPECT_EQ(c.hangupAfter, 5);
  EXPECT_TRUE(c.hangupAfterAnswer);
  EXPECT_TRUE(o.once);
  EXPECT_EQ(o.linger, 100ms);
  EXPECT_EQ(o.timeLimit, std::optional<Micros>(2500ms));
  EXPECT_EQ(o.name, "X");
  EXPECT_FALSE(o.registerPort);
  EXPECT_EQ(o.reportPath, "r.json");
  EXPECT_EQ(o.flashPath, "f.bin");
  EXPECT_TRUE(o.verbose);

  Options defaults;
  ASSERT_EQ(ParseOptions({}, defaults, error), ParseResult::kRun);
  EXPECT_EQ(defaults.config.link.charDelay, 220ms);
  EXPECT_EQ(defaults.config.link.ackDelay, 2000ms);
  EXPECT_EQ(defaults.config.link.attempts, 6);
  EXPECT_TRUE(defaults.config.link.highPriority) << "the device has the high priority";
  EXPECT_EQ(defaults.attach, "");
  EXPECT_EQ(defaults.config.device.finishAnswer, std::optional<std::uint8_t>(0x01));
  EXPECT_EQ(defaults.config.device.leaveAnswer, std::optional<std::uint8_t>(0x00));
  EXPECT_EQ(defaults.name, "MirbaZento-Simulator");

  Options help;
  EXPECT_EQ(ParseOptions({"--help"}, help, error), ParseResult::kHelp);
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--revision", "256"},
                                             {"--revision"},
                                             {"--version", "3"},
                                             {"--version", "3.256"},
                                             {"--final-answer", "yes"},
                                             {"--baud", "fast"},
                                             {"--drop-rate", "1.5"},
                                             {"--drop-rate", "0.6", "--corrupt-rate", "0.6"},
                                             {"--char-delay", "0"},
                                             {"--attempts", "0"},
                                             {"--priority", "middle"},
                                             {"--hangup-after", "0"},
                                             {"--mute=1"},
                                             {"--hangup-after-answer=1"},
                                             {"--frobnicate"}}) {
    Options o2;
    error.clear();
    EXPECT_EQ(ParseOptions(bad, o2, error), ParseResult::kError) << bad[0];
    EXPECT_FALSE(error.empty()) << bad[0];
  }
}

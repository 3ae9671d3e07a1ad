// The serial component on real pseudo-terminals, with the standard main loop: the test
// plays the device on the master side. Wall-clock limits here are generous upper bounds.
#include <asm/termbits.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/StdMainLoop.h"
#include "serial/TDaVevureRez.h"
#include "tests/serial/Pty.h"

using serial_test::Pty;
using Places = std::vector<std::uint32_t>;
using namespace std::chrono_literals;

namespace {

struct Report {
  std::uint32_t place;
  std::uint32_t code;
  std::uint8_t noise;
};

class OverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    // Conditions without a hand-over (a status poll) are looked at on every tick.
    tick->OnTimer = [] {};
    tick->Start();
    com = Make();
    com->SetComPort(pty.Path());
    com->OnRxClusterEvent = [this](TObject*) { ++clusters; };
  }

  void TearDown() override {
    com.reset();
    for (const auto& r : reports)
      EXPECT_TRUE(r.noise == 2 || expected_failures)
          << "unexpected report " << std::hex << r.place << " code " << std::dec << r.code;
  }

  std::unique_ptr<TDaVevureRez> Make() {
    auto c = std::make_unique<TDaVevureRez>(&owner, loop);
    c->OnProcessError = [this](TObject*, std::uint32_t place, std::uint32_t code, const ByteString&,
                               std::uint8_t noise) {
      reports.push_back({place, code, noise});
    };
    return c;
  }

  bool RunUntil(const std::function<bool()>& done, platform::Milliseconds limit = 20s) {
    return loop.RunUntil(done, limit);
  }

  // Reads clusters until `count` bytes have come.
  std::vector<std::string> Collect(std::size_t count) {
    std::vector<std::string> got;
    std::size_t total = 0;
    RunUntil([&] {
      while (com->NextClusterSize() > 0) {
        got.push_back(com->ReadNextClusterAsString());
        total += got.back().size();
      }
      return total >= count;
    });
    return got;
  }

  Places Reported() const {
    Places places;
    for (const auto& r : reports) places.push_back(r.place);
    return places;
  }

  platform::StdMainLoop loop;
  std::unique_ptr<platform::Timer> tick = loop.CreateTimer(5ms);
  Pty pty;
  TObject owner;
  std::unique_ptr<TDaVevureRez> com;
  std::vector<Report> reports;
  int clusters = 0;
  bool expected_failures = false;
};

}  // namespace

TEST_F(OverPty, OpensClosesAndReopensWithoutAFailure) {
  com->SetActive(true);
  ASSERT_TRUE(com->Active());
  EXPECT_TRUE(RunUntil([&] { return com->ModemState() != 0; })) << "the worker polls";
  EXPECT_EQ(com->ModemState(), 0xB0u) << "a ready device on a line without modem signals";
  com->SetBREAKState(true);
  com->SetBREAKState(false);
  com->SetActive(false);
  com->SetActive(true);
  ASSERT_TRUE(com->Active());
  const std::filesystem::path path(pty.Path());
  com->SetComPort(
      (path.parent_path() / ".." / path.parent_path().filename() / path.filename()).string());
  ASSERT_TRUE(com->Active()) << "reopened under another name of the same device";
  EXPECT_EQ(Reported(), (Places{0x1136, 0x1131, 0x1136, 0x1131, 0x1136}));
}

TEST_F(OverPty, BytesGoBothWays) {
  int written = 0;
  int drained = 0;
  com->OnWriteDone = [&](TObject*) { ++written; };
  com->OnTxQueueEmptyEvent = [&](TObject*) { ++drained; };
  com->SetActive(true);
  pty.Write("ping");
  EXPECT_EQ(Collect(4), (std::vector<std::string>{"ping"}));
  com->SendString("pong");
  EXPECT_EQ(written, 1);
  EXPECT_EQ(com->WrittenBytes(), 4u);
  EXPECT_EQ(pty.Read(4, 20s), "pong");
  EXPECT_TRUE(RunUntil([&] { return drained > 0; })) << "the output queue ran empty";
  // Every byte value passes unchanged.
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  pty.Write(all);
  std::string got;
  for (const auto& part : Collect(256)) got += part;
  EXPECT_EQ(got, all);
  com->SendString(all);
  EXPECT_EQ(pty.Read(256, 20s), all);
}

TEST_F(OverPty, TenBytesArrivingTogetherBecomeOneCluster) {
  com->SetActive(true);
  pty.Write("0123456789");
  ASSERT_TRUE(RunUntil([&] { return clusters > 0; }));
  RunUntil([] { return false; }, 400ms);  // longer than the cluster time: nothing follows
  EXPECT_EQ(clusters, 1);
  EXPECT_EQ(com->ReadNextClusterAsString(), "0123456789");
}

TEST_F(OverPty, ABurstIsCutAtTheClusterSize) {
  com->SetClusterSize(3072);
  com->SetActive(true);
  std::string burst;
  for (int i = 0; i < 5000; ++i) burst += static_cast<char>('A' + i % 26);
  pty.Write(burst);
  const auto parts = Collect(burst.size());
  ASSERT_FALSE(parts.empty());
  EXPECT_GE(parts.front().size(), 3072u) << "cut once the threshold was reached, with all waiting";
  std::string joined;
  for (const auto& p : parts) joined += p;
  EXPECT_EQ(joined, burst);
}

TEST_F(OverPty, ClustersQueueInArrivalOrder) {
  com->SetRTOExtraDelayTime(5);
  com->SetActive(true);
  for (const char* part : {"first", "second", "third"}) {
    const int before = clusters;
    pty.Write(part);
    ASSERT_TRUE(RunUntil([&] { return clusters > before; }));
  }
  EXPECT_EQ(com->ReadNextClusterAsString(), "first");
  EXPECT_EQ(com->ReadNextClusterAsHexString(), "7365636F6E64");
  char text[6];
  EXPECT_STREQ(com->ReadNextClusterAsPChar(text), "third");
}

TEST_F(OverPty, ASecondComponentCannotOpenTheSamePort) {
  com->SetActive(true);
  auto other = Make();
  other->SetComPort(pty.Path());
  other->SetActive(true);
  EXPECT_FALSE(other->Active());
  ASSERT_EQ(Reported(), (Places{0x1136, 0x1136, 0x1138}));
  EXPECT_EQ(reports.back().code, static_cast<std::uint32_t>(EBUSY));
  expected_failures = true;
  // The first one is undisturbed.
  pty.Write("still here");
  EXPECT_EQ(Collect(10).front(), "still here");
}

TEST_F(OverPty, WhatIsNoTerminalIsRefused) {
  expected_failures = true;
  const auto file = std::filesystem::temp_directory_path() / ("plain-" + std::to_string(getpid()));
  std::ofstream(file) << "text";
  const std::pair<std::string, int> cases[] = {
      {file.string(), ENOTTY}, {"/tmp", EISDIR}, {"/dev/no-such-port", ENOENT}, {"", EISDIR}};
  for (const auto& [name, error] : cases) {
    reports.clear();
    com->SetComPort(name);
    com->SetActive(true);
    EXPECT_FALSE(com->Active()) << name;
    ASSERT_EQ(Reported(), (Places{0x1136, 0x1138})) << name;
    EXPECT_EQ(reports.back().code, static_cast<std::uint32_t>(error)) << name;
  }
  std::filesystem::remove(file);
}

TEST_F(OverPty, LineSettingsReachTheTerminal) {
  com->SetActive(true);
  com->SetBaudRate(256000);
  com->SetParityType(3);
  com->SetDataBits(7);
  com->SetStopBits(2);
  com->SetFlowControl(8196);
  const platform::TtySettings tty = pty.Settings();
  EXPECT_EQ(tty.ospeed, 256000u);
  // A pseudo-terminal keeps 8 bits and decides the parity bits itself; the rest it keeps.
  EXPECT_EQ(tty.cflag & (CMSPAR | CSTOPB | CRTSCTS),
            static_cast<std::uint32_t>(CMSPAR | CSTOPB | CRTSCTS));
  EXPECT_EQ(Reported(), (Places{0x1136}));

  expected_failures = true;
  com->SetDataBits(4);
  ASSERT_EQ(Reported(), (Places{0x1136, 0x1123}));
  EXPECT_EQ(reports.back().code, static_cast<std::uint32_t>(EINVAL));
  com->SetDataBits(8);
  com->SetFlowControl(40);
  ASSERT_EQ(Reported(), (Places{0x1136, 0x1123, 0x1123})) << "no DSR-DTR handshake";
  EXPECT_EQ(pty.Settings().ospeed, 256000u) << "the line keeps its last good settings";
  pty.Write("ok");
  EXPECT_EQ(Collect(2).front(), "ok") << "and keeps working";
}

TEST_F(OverPty, ADialogueRaisesNoFailureAtAll) {
  // Settings as the flasher uses them.
  com->SetRTOExtraDelayTime(2);
  com->SetWTOExtraDelayTime(2);
  com->SetXTOAuto(false);
  com->SetActive(true);
  for (int i = 0; i < 20; ++i) {
    const std::string request = "request " + std::to_string(i);
    com->SendString(request);
    ASSERT_EQ(pty.Read(request.size(), 20s), request);
    const std::string answer = "answer " + std::to_string(i);
    pty.Write(answer);
    std::string got;
    for (const auto& part : Collect(answer.size())) got += part;
    ASSERT_EQ(got, answer);
  }
  // The flasher ends a run from the handler of the device's last answer.
  com->OnRxClusterEvent = [&](TObject*) { com->SetActive(false); };
  pty.Write("final answer");
  ASSERT_TRUE(RunUntil([&] { return !com->Active(); }));
  for (const auto& r : reports) EXPECT_EQ(r.noise, 2) << std::hex << r.place;
}

// Guards against a device that vanishes (here the other side closes) being reported at
// every poll and holding up the closing for its whole bound, with a warning.
TEST_F(OverPty, AVanishedDeviceIsReportedOnceAndTheNextRunWorks) {
  expected_failures = true;
  com->SetActive(true);
  ASSERT_TRUE(RunUntil([&] { return com->ModemState() != 0; }));
  pty.CloseMaster();
  auto failures = [&] {
    return std::count_if(reports.begin(), reports.end(),
                         [](const Report& r) { return r.noise == 0; });
  };
  ASSERT_TRUE(RunUntil([&] { return failures() > 0; }, 5s));
  RunUntil([] { return false; }, 500ms);
  EXPECT_EQ(failures(), 1) << "one report, not one per poll";
  const auto start = std::chrono::steady_clock::now();
  com->SetActive(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms) << "closing is prompt";
  EXPECT_EQ(failures(), 1);
  for (const auto& r : reports) EXPECT_NE(r.place, 0x1133u) << "no warning";
  Pty next;
  com->SetComPort(next.Path());
  com->SetActive(true);
  EXPECT_TRUE(com->Active());
  com->SendString("again");
  EXPECT_EQ(next.Read(5, 20s), "again");
}

TEST_F(OverPty, DestroyingWithAnOpenPortReportsNothingAndReturnsInTime) {
  com->SetActive(true);
  pty.Write("unread");
  RunUntil([&] { return clusters > 0; });
  reports.clear();
  const auto start = std::chrono::steady_clock::now();
  com.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2750ms + 2000ms)
      << "closing and ending the worker are bounded";
  EXPECT_TRUE(reports.empty());
  // The port is free again.
  auto next = Make();
  next->SetComPort(pty.Path());
  next->SetActive(true);
  EXPECT_TRUE(next->Active());
}

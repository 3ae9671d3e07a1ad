// The whole communication stack (serial port component on a pseudo-terminal, connection
// component, protocol component under 3964R) against the device simulator's independent,
// byte-stream 3964R engine, which plays the device on the master side in a thread of its own
// with the real clock. Wall-clock limits are generous upper bounds only.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "connection/TDoVuverUve.h"
#include "platform/StdMainLoop.h"
#include "protocol/TRiVadaroverEza.h"
#include "serial/TDaVevureRez.h"
#include "tests/protocol/ProzedurTestSupport.h"
#include "tests/serial/Pty.h"
#include "tools/simulator/Link3964.h"

using prottest::Hex;
using namespace std::chrono_literals;

namespace {

// The device: the simulator's engine on the master side.
class Device : public sim::LinkListener {
 public:
  explicit Device(serial_test::Pty& pty) : pty_(pty), link_(config_, *this) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Device() override {
    stop_ = true;
    thread_.join();
  }

  void Send(const std::string& telegram) {
    std::lock_guard lock(mutex_);
    link_.Send(telegram, Now());
  }
  // Sends `telegram` the moment the host's next STX arrives, just before the engine sees
  // it: the two STX cross on the line.
  void SendOnHostStx(const std::string& telegram) {
    std::lock_guard lock(mutex_);
    onHostStx_ = telegram;
  }
  std::vector<std::string> Received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::size_t Delivered() {
    std::lock_guard lock(mutex_);
    return delivered_;
  }
  int Failed() {
    std::lock_guard lock(mutex_);
    return failed_;
  }
  bool Idle() {
    std::lock_guard lock(mutex_);
    return link_.Idle();
  }

 private:
  sim::Micros Now() const {
    return std::chrono::duration_cast<sim::Micros>(std::chrono::steady_clock::now() - start_);
  }

  void Run() {
    while (!stop_) {
      pollfd fd{pty_.Master(), POLLIN, 0};
      if (poll(&fd, 1, 5) > 0 && (fd.revents & POLLIN)) {
        char buffer[512];
        const ssize_t n = ::read(pty_.Master(), buffer, sizeof buffer);
        std::lock_guard lock(mutex_);
        for (ssize_t i = 0; i < n; ++i) {
          const auto byte = static_cast<unsigned char>(buffer[i]);
          if (byte == ctl::STX && !onHostStx_.empty()) {
            link_.Send(onHostStx_, Now());
            onHostStx_.clear();
          }
          link_.Receive(byte, Now());
        }
      }
      std::lock_guard lock(mutex_);
      link_.Poll(Now());
    }
  }

  // Listener calls come with the mutex held.
  sim::Micros Transmit(const sim::Bytes& bytes, sim::Micros now) override {
    pty_.Write(bytes);
    return now;
  }
  void Received(const sim::RxTelegram& t) override {
    if (t.status == sim::RxStatus::kOk) received_.push_back(Hex(t.data));
  }
  void Transmitted(const sim::Bytes&, sim::Micros, sim::Micros, int) override {}
  void SendDone(const sim::Bytes&, bool ok, sim::Micros) override { ok ? ++delivered_ : ++failed_; }
  void Event(sim::LinkEvent, sim::Micros) override {}
  void Measured(sim::Measure, sim::Micros) override {}

  serial_test::Pty& pty_;
  sim::LinkConfig config_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  sim::Link3964 link_;
  std::vector<std::string> received_;
  std::size_t delivered_ = 0;
  int failed_ = 0;
  std::string onHostStx_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class InteropPty : public ::testing::Test {
 protected:
  void SetUp() override {
    // As the flasher configures its stack, with a shorter answer time to keep the test fast.
    com.SetComPort(pty.Path());
    com.SetRTOExtraDelayTime(2);
    com.SetWTOExtraDelayTime(2);
    com.SetXTOAuto(false);
    con.SetDaVevureRez(&com);
    con.SetRxDCharTime(0);
    con.SetHearForConnect(false);
    p.SetDoVuverUve(&con);
    p.SetProtokoll(TProtokoll::p3964R);
    p.SetWaitForAnswer3964R(500);
    p.OnDataRecieveEvent = [this](TObject*) {
      std::uint32_t size = 0;
      while (p.GetNextClusterSize() > 0) ours.push_back(Hex(p.ReadNextCluster(size)));
    };
    p.OnSuccessfulReadyEvent = [this](TObject*) { ++ready; };
    p.OnErrorAbortEvent = [this](TObject*, std::uint32_t Place, std::uint32_t, const ByteString&,
                                 std::uint8_t) { aborts.push_back(Place); };
    con.SetActive(true);
    p.SetActive(true);
    ASSERT_TRUE(p.Connected());
  }
  void TearDown() override { p.SetActive(false); }

  bool RunUntil(const std::function<bool()>& done) { return loop.RunUntil(done, 30s); }

  platform::StdMainLoop loop;
  serial_test::Pty pty;
  TObject owner;
  TDaVevureRez com{&owner, loop};
  TDoVuverUve con{&owner, loop};
  TRiVadaroverEza p{&owner, loop};
  Device device{pty};
  std::vector<std::string> ours;
  int ready = 0;
  std::vector<std::uint32_t> aborts;
};

TEST_F(InteropPty, TelegramsBothWays) {
  std::vector<std::string> toDevice, toUs;
  for (int i = 0; i < 5; ++i) {
    const ByteString t = {static_cast<char>(i), ctl::DLE, ctl::STX, ctl::DLE, ctl::DLE, 'x'};
    p.SendeString(t);
    toDevice.push_back(Hex(t));
  }
  ASSERT_TRUE(RunUntil([&] { return ready > 0; }));
  EXPECT_EQ(device.Received(), toDevice);

  for (int i = 0; i < 5; ++i) {
    const ByteString t = {ctl::DLE, static_cast<char>(0xF0 + i), ctl::ETX, ctl::DLE};
    device.Send(t);
    toUs.push_back(Hex(t));
  }
  ASSERT_TRUE(RunUntil([&] { return device.Delivered() == toUs.size() && device.Idle(); }));
  EXPECT_EQ(ours, toUs);
  EXPECT_EQ(device.Failed(), 0);
  EXPECT_TRUE(aborts.empty());
}

TEST_F(InteropPty, CrossedStxEndsWithBothTelegramsDelivered) {
  device.SendOnHostStx("\x51\x52");
  p.SendeString("\x41\x42");
  ASSERT_TRUE(RunUntil([&] {
    return !device.Received().empty() && device.Delivered() == 1 && device.Idle() &&
           p.ToSendListe.empty();
  }));
  EXPECT_EQ(device.Received(), std::vector<std::string>{"4142"});
  // Both sides give way in a conflict; the repetitions that sort it out may bring the
  // device's telegram twice, never anything else.
  ASSERT_FALSE(ours.empty());
  for (const std::string& t : ours) EXPECT_EQ(t, "5152");
  EXPECT_EQ(device.Failed(), 0);
  EXPECT_TRUE(aborts.empty());
}

}  // namespace

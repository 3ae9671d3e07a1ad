// A serial component on the fake comm port and the virtual clock. The worker thread is
// real; the fake parks it in every wait, so a test lets it run one pass at a time.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/FakeCommPort.h"
#include "platform/System.h"
#include "platform/VirtualMainLoop.h"
#include "serial/TDaVevureRez.h"

namespace serial_test {

struct Report {
  TObject* sender;
  std::uint32_t place;
  std::uint32_t code;
  std::string msg;
  std::uint8_t noise;
};

class FakePortFixture : public ::testing::Test {
 protected:
  static constexpr auto kLimit = platform::Milliseconds(10000);

  void SetUp() override {
    com = std::make_unique<TDaVevureRez>(&owner, loop, ports);
    com->OnProcessError = [this](TObject* sender, std::uint32_t place, std::uint32_t code,
                                 const ByteString& msg, std::uint8_t noise) {
      reports.push_back({sender, place, code, msg, noise});
    };
  }

  void TearDown() override {
    com.reset();
    loop.Shutdown();
  }

  // Opens the port called `name` and lets the worker run up to its first wait.
  std::shared_ptr<platform::FakeCommPort> Open(const std::string& name = "COM2") {
    auto port = ports.Add(platform::DevicePath(name));
    com->SetComPort(name);
    com->SetActive(true);
    EXPECT_TRUE(com->Active());
    Settle(*port);
    return port;
  }

  // Serves hand-overs until the worker is parked in a wait on `port` (port open) or idle.
  void Settle(platform::FakeCommPort& port) {
    ASSERT_TRUE(loop.ServeUntil(
        [&] { return com->Active() ? port.Parked() : !com->IsWorkThreadRunning(); }, kLimit))
        << "the worker did not come to rest";
  }

  // Lets the parked worker's wait end with `result` and the worker run to its next wait.
  void Pass(platform::FakeCommPort& port, std::uint32_t result = platform::kWaitTimeout) {
    const int waits = port.WaitCount();
    port.Release(result);
    ASSERT_TRUE(loop.ServeUntil([&] { return port.WaitCount() > waits && port.Parked(); }, kLimit))
        << "the worker did not come back to a wait";
  }

  // Moves the virtual clock while the worker is parked.
  void Advance(std::uint32_t ms) { loop.Advance(platform::Milliseconds(ms)); }

  std::vector<std::uint32_t> Reported() const {
    std::vector<std::uint32_t> places;
    for (const auto& r : reports) places.push_back(r.place);
    return places;
  }

  // Records the named events in the order they are raised.
  void RecordEvents() {
    auto record = [this](const char* name) {
      return [this, name](TObject* sender) {
        EXPECT_EQ(sender, com.get());
        events.push_back(name);
      };
    };
    com->OnTxQueueEmptyEvent = record("TxQueueEmpty");
    com->OnComEvent = record("ComEvent");
    com->OnComStat = record("ComStat");
    com->OnBreakEvent = record("Break");
    com->OnCTSEvent = record("CTS");
    com->OnDSREvent = record("DSR");
    com->OnLineErrorEvent = record("LineError");
    com->OnRingEvent = record("Ring");
    com->OnRLSDEvent = record("RLSD");
    com->OnRxClusterEvent = record("RxCluster");
    com->OnRxCharEvent = record("RxChar");
    com->OnRxEventCharEvent = record("RxEventChar");
    com->OnWriteDone = record("WriteDone");
  }

  // The tick count wraps 128 ms into every test, so that every timing rule is also
  // exercised across the wrap.
  platform::VirtualMainLoop loop{0xFFFFFF80u};
  platform::FakeCommPortFactory ports;
  TObject owner;
  std::unique_ptr<TDaVevureRez> com;
  std::vector<Report> reports;
  std::vector<std::string> events;
};

}  // namespace serial_test

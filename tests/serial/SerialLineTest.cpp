// The Linux comm port over pseudo-terminals with the modem-line shim preloaded
// (tests/shim), which gives a pty what only a real line shows: modem lines and counters
// that cost a request each, and an output queue that does not drain at once.
#include <dlfcn.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "platform/CommPort.h"
#include "tests/serial/Pty.h"

using namespace platform;
using namespace platform::comm;
using serial_test::Pty;

namespace {

template <class F>
F Shim(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}

class ShimmedPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(counts, nullptr) << "the modem shim is not preloaded";
    ASSERT_NE(set_outq, nullptr);
    std::uint32_t error = 0;
    port = SystemCommPorts().Open(pty.Path(), error);
    ASSERT_NE(port, nullptr) << error;
    CommDcb dcb;
    dcb.BaudRate = 9600;
    dcb.Flags = DCB_BINARY;
    ASSERT_EQ(port->SetCommState(dcb), 0u);
    ASSERT_EQ(port->SetCommMask(EV_ALL), 0u);
  }
  void TearDown() override {
    if (set_outq) set_outq(-1);
    if (set_inputs) set_inputs(TIOCM_CTS | TIOCM_DSR | TIOCM_CAR);
  }

  unsigned long Requests() const {
    unsigned long c[3];
    counts(c);
    return c[0] + c[1] + c[2];
  }

  void (*counts)(unsigned long[3]) = Shim<void (*)(unsigned long[3])>("modem_shim_counts");
  void (*set_outq)(int) = Shim<void (*)(int)>("modem_shim_set_outq");
  void (*set_inputs)(int) = Shim<void (*)(int)>("modem_shim_set_inputs");
  unsigned long (*outq_requests)() = Shim<unsigned long (*)()>("modem_shim_outq_requests");
  Pty pty;
  std::shared_ptr<CommPort> port;
};

// Guards against a write that counted as done when the kernel took it: closing then
// purged bytes that had not left yet.
TEST_F(ShimmedPort, AWriteIsDoneWhenItsBytesHaveLeft) {
  set_outq(3);
  std::uint32_t written = 0;
  ASSERT_EQ(port->WriteFile("abc", 3, written), kErrorIoPending);
  EXPECT_EQ(port->WaitForSlots({CommSlot::Write}, 30), kWaitTimeout);
  std::uint32_t transferred = 0;
  EXPECT_EQ(port->GetOverlappedResult(CommSlot::Write, transferred), kErrorIoPending);
  set_outq(0);
  EXPECT_EQ(port->WaitForSlots({CommSlot::Write}, 5000), 0u);
  EXPECT_EQ(port->GetOverlappedResult(CommSlot::Write, transferred), 0u);
  EXPECT_EQ(transferred, 3u);
  EXPECT_EQ(pty.Read(3, std::chrono::seconds(5)), "abc");
}

// Guards against asking the line at every status call (a millisecond each on an adapter):
// a worker pass, done twice, asks it at most once, and a line change still shows.
TEST_F(ShimmedPort, APassAsksTheLineAtMostOnceAndStillSeesALineChange) {
  auto pass = [&] {
    std::uint32_t status = 0, errors = 0, mask = 0;
    CommStat stat;
    port->GetCommModemStatus(status);
    port->ClearCommError(errors, stat);
    port->WaitCommEvent(mask);
    port->WaitForSlots({CommSlot::Read, CommSlot::Status}, 0);
    port->GetCommModemStatus(status);
    port->ClearCommError(errors, stat);
    return status;
  };
  const unsigned long before = Requests();
  pass();
  pass();
  EXPECT_LE(Requests() - before, 1u);

  set_inputs(TIOCM_DSR | TIOCM_CAR);
  std::uint32_t status = MS_CTS_ON;
  for (int i = 0; i < 100 && (status & MS_CTS_ON); ++i) {
    port->WaitForSlots({}, 20);
    status = pass();
  }
  EXPECT_EQ(status, MS_DSR_ON | MS_RLSD_ON) << "CTS went off";
  EXPECT_EQ(port->WaitForSlots({CommSlot::Status}, 1000), 0u);
  std::uint32_t events = 0;
  EXPECT_EQ(port->GetOverlappedResult(CommSlot::Status, events), 0u);
  EXPECT_NE(events & EV_CTS, 0u);
}

// Guards against a drain wait that woke every one or two milliseconds while flow control
// held one byte in the output queue.
TEST_F(ShimmedPort, HeldOutputIsNotWatchedInABusyLoop) {
  set_outq(1);
  std::uint32_t written = 0;
  ASSERT_EQ(port->WriteFile("x", 1, written), kErrorIoPending);
  const unsigned long before = outq_requests();
  EXPECT_EQ(port->WaitForSlots({CommSlot::Read}, 300), kWaitTimeout);
  EXPECT_LE(outq_requests() - before, 15u) << "about one look per 75 ms once it is held";
}

}  // namespace

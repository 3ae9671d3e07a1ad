// The modem-line shim, preloaded into this program: emulated lines on a pty slave, the
// cost per request, the counters, and everything else passed through.
#include <asm/termbits.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include <gtest/gtest.h>

namespace {

using Counts = void (*)(unsigned long[3]);
using SetCost = void (*)(unsigned);

class ModemShim : public ::testing::Test {
 protected:
  void SetUp() override {
    counts_ = reinterpret_cast<Counts>(dlsym(RTLD_DEFAULT, "modem_shim_counts"));
    set_cost_ = reinterpret_cast<SetCost>(dlsym(RTLD_DEFAULT, "modem_shim_set_cost_us"));
    ASSERT_NE(counts_, nullptr) << "the shim is not preloaded";
    ASSERT_NE(set_cost_, nullptr);
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave_, 0);
  }
  void TearDown() override {
    if (set_cost_ != nullptr) set_cost_(0);
    close(slave_);
    close(master_);
  }
  unsigned long Total() {
    unsigned long c[3];
    counts_(c);
    return c[0] + c[1] + c[2];
  }

  Counts counts_ = nullptr;
  SetCost set_cost_ = nullptr;
  int master_ = -1;
  int slave_ = -1;
};

TEST_F(ModemShim, EmulatesTheLinesOfAPtySlavePerDescriptor) {
  int lines = 0;
  ASSERT_EQ(ioctl(slave_, TIOCMGET, &lines), 0);
  EXPECT_EQ(lines, TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR);
  int rts = TIOCM_RTS;
  ASSERT_EQ(ioctl(slave_, TIOCMBIC, &rts), 0);
  ASSERT_EQ(ioctl(slave_, TIOCMGET, &lines), 0);
  EXPECT_EQ(lines & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR);
  ASSERT_EQ(ioctl(slave_, TIOCMBIS, &rts), 0);
  int none = 0;
  ASSERT_EQ(ioctl(slave_, TIOCMSET, &none), 0);
  ASSERT_EQ(ioctl(slave_, TIOCMGET, &lines), 0);
  EXPECT_EQ(lines, TIOCM_CTS | TIOCM_DSR | TIOCM_CAR);
  // Another descriptor has lines of its own.
  const int other = open(ptsname(master_), O_RDWR | O_NOCTTY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(ioctl(other, TIOCMGET, &lines), 0);
  EXPECT_EQ(lines & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS);
  close(other);
  serial_icounter_struct icount;
  icount.rx = 7;
  ASSERT_EQ(ioctl(slave_, TIOCGICOUNT, &icount), 0);
  EXPECT_EQ(icount.rx, 0);
}

TEST_F(ModemShim, PassesOtherRequestsAndOtherFilesThrough) {
  const unsigned long before = Total();
  termios2 t{};
  EXPECT_EQ(ioctl(slave_, TCGETS2, &t), 0);
  int queued = -1;
  EXPECT_EQ(ioctl(slave_, TIOCOUTQ, &queued), 0);
  EXPECT_EQ(queued, 0);
  // The master is no slave: the kernel answers, as without the shim.
  int lines = 0;
  EXPECT_NE(ioctl(master_, TIOCMGET, &lines), 0);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  EXPECT_EQ(ioctl(pipe_fds[0], TIOCMGET, &lines), -1);
  EXPECT_EQ(errno, ENOTTY);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
  EXPECT_EQ(Total(), before) << "only requests a terminal answered are counted";
}

TEST_F(ModemShim, ChargesAndCountsEachRequest) {
  const unsigned long before = Total();
  set_cost_(3000);
  const auto start = std::chrono::steady_clock::now();
  int lines = 0;
  for (int i = 0; i < 3; ++i) ASSERT_EQ(ioctl(slave_, TIOCMGET, &lines), 0);
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spent, std::chrono::microseconds(9000));
  EXPECT_EQ(Total(), before + 3);
}

}  // namespace

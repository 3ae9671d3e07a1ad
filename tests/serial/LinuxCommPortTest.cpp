// The Linux comm port: the translation of line descriptions into terminal settings, the
// received-byte filter, and the port itself over pseudo-terminals.
#include <asm/termbits.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/CommPort.h"
#include "platform/LinuxCommPort.h"
#include "tests/serial/Pty.h"

using namespace platform;
using namespace platform::comm;
using serial_test::Pty;

namespace {

CommDcb Dcb(std::uint32_t baud = 9600, std::uint8_t size = 8, std::uint8_t parity = 0,
            std::uint8_t stop = 0, std::uint32_t flow = 0) {
  CommDcb dcb;
  dcb.BaudRate = baud;
  dcb.ByteSize = size;
  dcb.Parity = parity;
  dcb.StopBits = stop;
  dcb.Flags = DCB_BINARY | (parity ? DCB_PARITY : 0) | flow;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

TtySettings Tty(const CommDcb& dcb) {
  TtySettings tty;
  EXPECT_EQ(DcbToTty(dcb, tty), 0u);
  return tty;
}

std::string Decode(TtyInputFilter& filter, const std::string& raw) {
  std::string out;
  filter.Decode(raw.data(), raw.size(), out);
  return out;
}

}  // namespace

// --- Line description -> terminal -------------------------------------------------------

TEST(LineMapping, EveryOfferedRateBecomesACustomSpeed) {
  for (std::uint32_t baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u,
                             56000u, 57600u, 115200u, 128000u, 256000u}) {
    const TtySettings tty = Tty(Dcb(baud));
    EXPECT_EQ(tty.cflag & CBAUD, static_cast<std::uint32_t>(BOTHER)) << baud;
    EXPECT_EQ(tty.ospeed, baud);
    EXPECT_EQ(tty.ispeed, baud);
  }
}

TEST(LineMapping, SizeParityAndStopBits) {
  EXPECT_EQ(Tty(Dcb(9600, 8)).cflag & (CSIZE | PARENB | CSTOPB), static_cast<std::uint32_t>(CS8));
  EXPECT_EQ(Tty(Dcb(9600, 7, ODDPARITY)).cflag & (CSIZE | PARENB | PARODD | CMSPAR),
            static_cast<std::uint32_t>(CS7 | PARENB | PARODD));
  EXPECT_EQ(Tty(Dcb(9600, 7, EVENPARITY)).cflag & (PARENB | PARODD | CMSPAR),
            static_cast<std::uint32_t>(PARENB));
  EXPECT_EQ(Tty(Dcb(9600, 6, MARKPARITY)).cflag & (CSIZE | PARENB | PARODD | CMSPAR),
            static_cast<std::uint32_t>(CS6 | PARENB | PARODD | CMSPAR));
  EXPECT_EQ(Tty(Dcb(9600, 8, SPACEPARITY)).cflag & (PARENB | PARODD | CMSPAR),
            static_cast<std::uint32_t>(PARENB | CMSPAR));
  EXPECT_TRUE(Tty(Dcb(9600, 8, 0, TWOSTOPBITS)).cflag & CSTOPB);
  EXPECT_TRUE(Tty(Dcb(9600, 5, 0, ONE5STOPBITS)).cflag & CSTOPB) << "1.5 stop bits at 5 bits";
  const TtySettings raw = Tty(Dcb());
  EXPECT_EQ(raw.lflag, 0u) << "no echo, no line editing, no signals";
  EXPECT_EQ(raw.oflag, 0u);
  EXPECT_TRUE(raw.cflag & CLOCAL);
  EXPECT_TRUE(raw.cflag & CREAD);
  EXPECT_EQ(raw.iflag, static_cast<std::uint32_t>(IGNBRK))
      << "bytes with parity errors pass as received without replacement";
}

TEST(LineMapping, FlowControlValues) {
  EXPECT_FALSE(Tty(Dcb(9600, 8, 0, 0, 0)).cflag & CRTSCTS);
  const TtySettings xon = Tty(Dcb(9600, 8, 0, 0, 896));
  EXPECT_EQ(xon.iflag & (IXON | IXOFF), static_cast<std::uint32_t>(IXON | IXOFF));
  EXPECT_EQ(xon.vstart, 17);
  EXPECT_EQ(xon.vstop, 19);
  EXPECT_TRUE(Tty(Dcb(9600, 8, 0, 0, 8196)).cflag & CRTSCTS);
  const TtySettings enable = Tty(Dcb(9600, 8, 0, 0, 4240));
  EXPECT_FALSE(enable.cflag & CRTSCTS) << "raised DTR and RTS are no handshake";
  EXPECT_FALSE(enable.iflag & (IXON | IXOFF));
  CommDcb replace = Dcb(9600, 8, EVENPARITY);
  replace.Flags |= DCB_ERROR_CHAR;
  EXPECT_EQ(Tty(replace).iflag & (INPCK | PARMRK), static_cast<std::uint32_t>(INPCK | PARMRK));
}

TEST(LineMapping, WhatATerminalCannotDoIsRefused) {
  TtySettings tty;
  EXPECT_EQ(DcbToTty(Dcb(9600, 4), tty), static_cast<std::uint32_t>(EINVAL)) << "4 data bits";
  EXPECT_EQ(DcbToTty(Dcb(9600, 9), tty), static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(DcbToTty(Dcb(9600, 8, 0, 0, 40), tty), static_cast<std::uint32_t>(EINVAL))
      << "DSR-DTR handshake";
  EXPECT_EQ(DcbToTty(Dcb(9600, 8, 0, 0, DCB_DSR_SENSITIVITY), tty),
            static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(DcbToTty(Dcb(9600, 8, 0, 0, DCB_RTS_CONTROL_TOGGLE), tty),
            static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(DcbToTty(Dcb(9600, 8, 0, ONE5STOPBITS), tty), static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(DcbToTty(Dcb(9600, 5, 0, TWOSTOPBITS), tty), static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(DcbToTty(Dcb(9600, 8, 5), tty), static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(DcbToTty(Dcb(0), tty), static_cast<std::uint32_t>(EINVAL));
}

TEST(LineMapping, TerminalSettingsReadBackAsTheLineDescription) {
  for (const CommDcb& dcb :
       {Dcb(256000, 7, MARKPARITY, TWOSTOPBITS, 8196), Dcb(1200, 5, SPACEPARITY, ONE5STOPBITS, 896),
        Dcb(14400, 6, ODDPARITY)}) {
    CommDcb back = Dcb(1, 8);
    TtyToDcb(Tty(dcb), back);
    EXPECT_EQ(back.BaudRate, dcb.BaudRate);
    EXPECT_EQ(back.ByteSize, dcb.ByteSize);
    EXPECT_EQ(back.Parity, dcb.Parity);
    EXPECT_EQ(back.StopBits, dcb.StopBits);
    EXPECT_EQ(back.Flags & (DCB_OUTX | DCB_INX), dcb.Flags & (DCB_OUTX | DCB_INX));
    EXPECT_EQ((back.Flags & DCB_OUTX_CTS_FLOW) != 0, (dcb.Flags & DCB_OUTX_CTS_FLOW) != 0);
  }
  TtySettings standard;
  standard.cflag = B115200 | CS8;
  CommDcb back;
  TtyToDcb(standard, back);
  EXPECT_EQ(back.BaudRate, 115200u);
}

// Guards against line settings that the driver took only in part counting as set: an 8250
// (base clock 115200) runs 56000 as 57600 and 100000 as 115200, though it reads back what
// was asked; a driver that reads back another rate or frame did not take the request.
TEST(LineMapping, SettingsTheDriverDidNotTakeAreTold) {
  struct Row {
    CommDcb wanted;
    std::uint32_t read_back_rate;  // 0: as asked
    std::uint32_t cflag_change;    // bits the driver flipped
    std::uint32_t baud_base;
    bool taken;
  };
  const Row rows[] = {
      {Dcb(9600), 0, 0, 0, true},
      {Dcb(9600), 0, 0, 115200, true},
      {Dcb(56000), 0, 0, 115200, false},
      {Dcb(100000), 0, 0, 115200, false},
      {Dcb(128000), 0, 0, 24000000, true},
      {Dcb(56000), 57000, 0, 0, true},  // within 2%
      {Dcb(56000), 57600, 0, 0, false},
      {Dcb(9600, 7, EVENPARITY), 0, PARENB, 0, false},
      {Dcb(9600, 7), 0, CS7 ^ CS8, 0, false},
      {Dcb(9600, 8, NOPARITY, TWOSTOPBITS), 0, CSTOPB, 0, false},
  };
  for (const Row& row : rows) {
    const TtySettings wanted = Tty(row.wanted);
    TtySettings got = wanted;
    if (row.read_back_rate) got.ispeed = got.ospeed = row.read_back_rate;
    got.cflag ^= row.cflag_change;
    EXPECT_EQ(LineTaken(wanted, got, row.baud_base), row.taken)
        << row.wanted.BaudRate << " base " << row.baud_base << " read back " << got.ospeed;
  }
  EXPECT_EQ(RunningRate(56000, 115200, 56000), 57600u);
  EXPECT_EQ(RunningRate(300000, 115200, 300000), 115200u) << "at most the base clock";
  EXPECT_EQ(RunningRate(56000, 0, 55800), 55800u) << "no base clock: the read-back";
}

// --- Received-byte filter ---------------------------------------------------------------

TEST(InputFilter, ReplacesMarkedBytesAndUndoublesFF) {
  TtyInputFilter filter;
  filter.Configure(true, '?', false);
  EXPECT_EQ(Decode(filter, std::string("a\xFF\x00zb\xFF\xFF", 7)), "a?b\xFF");
  // A mark split across reads is completed by the next one.
  EXPECT_EQ(Decode(filter, "c\xFF"), "c");
  EXPECT_EQ(Decode(filter, std::string("\x00", 1)), "");
  EXPECT_EQ(Decode(filter, "qd"), "?d");
}

TEST(InputFilter, PassesEverythingUnlessAsked) {
  TtyInputFilter filter;
  const std::string raw("\xFF\x00z\x00", 4);
  EXPECT_EQ(Decode(filter, raw), raw);
  filter.Configure(false, '?', true);
  EXPECT_EQ(Decode(filter, raw), "\xFFz") << "zero bytes dropped";
  filter.Configure(true, '\0', true);
  EXPECT_EQ(Decode(filter, raw), "") << "a replacement by zero is dropped as well";
}

// --- Opening ----------------------------------------------------------------------------

TEST(LinuxPort, OnlyTerminalsOpen) {
  std::uint32_t error = 0;
  auto& ports = SystemCommPorts();
  EXPECT_EQ(ports.Open("/nonexistent/ttyX", error), nullptr);
  EXPECT_EQ(error, static_cast<std::uint32_t>(ENOENT));
  EXPECT_EQ(ports.Open("/tmp", error), nullptr);
  EXPECT_EQ(error, static_cast<std::uint32_t>(EISDIR));
  const auto file = std::filesystem::temp_directory_path() / ("port-" + std::to_string(getpid()));
  std::ofstream(file) << "not a line";
  EXPECT_EQ(ports.Open(file.string(), error), nullptr);
  EXPECT_EQ(error, static_cast<std::uint32_t>(ENOTTY));
  std::filesystem::remove(file);
  EXPECT_EQ(ports.Open("/dev/null", error), nullptr) << "a device, but not a terminal";
  EXPECT_EQ(error, static_cast<std::uint32_t>(ENOTTY));
}

TEST(LinuxPort, OpeningIsExclusiveUntilClosed) {
  Pty pty;
  std::uint32_t error = 0;
  auto first = SystemCommPorts().Open(pty.Path(), error);
  ASSERT_NE(first, nullptr) << error;
  EXPECT_EQ(SystemCommPorts().Open(pty.Path(), error), nullptr);
  EXPECT_EQ(error, static_cast<std::uint32_t>(EBUSY)) << "also for root";
  EXPECT_EQ(first->CloseHandle(), 0u);
  EXPECT_EQ(first->SetCommMask(EV_ALL), static_cast<std::uint32_t>(EBADF));
  auto second = SystemCommPorts().Open(pty.Path(), error);
  EXPECT_NE(second, nullptr) << "closing gives the port back: " << error;
}

// --- The open port ----------------------------------------------------------------------

class OpenPty : public ::testing::Test {
 protected:
  void SetUp() override {
    std::uint32_t error = 0;
    port = SystemCommPorts().Open(pty.Path(), error);
    ASSERT_NE(port, nullptr) << error;
    ASSERT_EQ(port->SetCommState(Dcb(115200)), 0u);
    ASSERT_EQ(port->SetCommMask(EV_ALL), 0u);
  }

  Pty pty;
  std::shared_ptr<CommPort> port;
};

TEST_F(OpenPty, ModemLinesAndCountersAreEmulatedWithoutFailures) {
  std::uint32_t status = 0;
  EXPECT_EQ(port->GetCommModemStatus(status), 0u);
  EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  for (std::uint32_t f : {SETDTR, CLRDTR, SETRTS, CLRRTS})
    EXPECT_EQ(port->EscapeCommFunction(f), 0u);
  EXPECT_EQ(port->SetCommBreak(), 0u);
  EXPECT_EQ(port->ClearCommBreak(), 0u);
  std::uint32_t errors = 1;
  CommStat stat;
  EXPECT_EQ(port->ClearCommError(errors, stat), 0u);
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(stat.Flags, 0);
  EXPECT_EQ(port->SetupComm(4096, 4096), 0u);
  EXPECT_EQ(port->PurgeComm(15), 0u);

  // Failed polls leave the last values for the caller to keep using.
  pty.Write("abc");
  for (int i = 0; i < 5000 && stat.cbInQue < 3; ++i) {
    ASSERT_EQ(port->ClearCommError(errors, stat), 0u);
    usleep(1000);
  }
  ASSERT_EQ(stat.cbInQue, 3u);
  ASSERT_EQ(port->CloseHandle(), 0u);
  errors = CE_FRAME;
  EXPECT_EQ(port->ClearCommError(errors, stat), static_cast<std::uint32_t>(EBADF));
  EXPECT_EQ(stat.cbInQue, 3u);
  EXPECT_EQ(errors, static_cast<std::uint32_t>(CE_FRAME));
  EXPECT_EQ(port->GetCommModemStatus(status), static_cast<std::uint32_t>(EBADF));
  EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
}

TEST_F(OpenPty, SettingsReachTheTerminal) {
  EXPECT_EQ(port->SetCommState(Dcb(256000, 7, MARKPARITY, TWOSTOPBITS, 8196)), 0u);
  const TtySettings tty = pty.Settings();
  EXPECT_EQ(tty.ospeed, 256000u);
  // A pseudo-terminal keeps 8 bits and decides the parity bits itself; the rest it keeps.
  EXPECT_EQ(tty.cflag & (CMSPAR | CSTOPB | CRTSCTS),
            static_cast<std::uint32_t>(CMSPAR | CSTOPB | CRTSCTS));
  CommDcb back;
  EXPECT_EQ(port->GetCommState(back), 0u);
  EXPECT_EQ(back.BaudRate, 256000u);
  EXPECT_EQ(back.StopBits, TWOSTOPBITS);
  EXPECT_EQ(port->SetCommState(Dcb(9600, 4)), static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(pty.Settings().ospeed, 256000u) << "a refused description changes nothing";
}

TEST_F(OpenPty, EventWaitEndsWhenDataArrive) {
  std::uint32_t mask = 0;
  ASSERT_EQ(port->WaitCommEvent(mask), kErrorIoPending);
  std::uint32_t result = 0;
  std::thread waiter([&] { result = port->WaitForSlots({CommSlot::Status}, 60000); });
  pty.Write("hi\r");
  waiter.join();
  EXPECT_EQ(result, 0u) << "not the timeout";
  ASSERT_EQ(port->GetOverlappedResult(CommSlot::Status, mask), 0u);
  EXPECT_TRUE(mask & EV_RXCHAR);

  std::uint32_t errors = 0;
  CommStat stat;
  ASSERT_EQ(port->ClearCommError(errors, stat), 0u);
  EXPECT_EQ(stat.cbInQue, 3u);
  char buffer[8] = {};
  std::uint32_t read = 0;
  EXPECT_EQ(port->ReadFile(buffer, sizeof buffer, read), 0u) << "reads never stay outstanding";
  EXPECT_EQ(std::string(buffer, read), "hi\r") << "raw: no line editing";
  EXPECT_EQ(port->ReadFile(buffer, sizeof buffer, read), 0u);
  EXPECT_EQ(read, 0u);
}

TEST_F(OpenPty, QueueSizeBoundsTheQueueButNotARead) {
  ASSERT_EQ(port->SetupComm(64, 64), 0u);
  const std::string data(1000, 'q');
  pty.Write(data);
  std::uint32_t errors = 0;
  CommStat stat;
  for (int i = 0; i < 5000 && stat.cbInQue < data.size(); ++i) {
    ASSERT_EQ(port->ClearCommError(errors, stat), 0u);
    usleep(1000);
  }
  ASSERT_EQ(stat.cbInQue, data.size()) << "what lies beyond the queue counts as waiting";
  std::string buffer(stat.cbInQue, '\0');
  std::uint32_t read = 0;
  EXPECT_EQ(port->ReadFile(buffer.data(), stat.cbInQue, read), 0u);
  EXPECT_EQ(read, data.size());
  EXPECT_EQ(buffer, data);
}

TEST_F(OpenPty, EventCharacterAndEventsWaitingBeforeTheWait) {
  CommDcb dcb = Dcb(115200);
  dcb.EvtChar = '\n';
  ASSERT_EQ(port->SetCommState(dcb), 0u);
  pty.Write("line\n");
  std::uint32_t errors = 0;
  CommStat stat;
  for (int i = 0; i < 500 && stat.cbInQue < 5; ++i) {
    port->ClearCommError(errors, stat);
    usleep(1000);
  }
  std::uint32_t mask = 0;
  EXPECT_EQ(port->WaitCommEvent(mask), 0u) << "events that came first end the wait at once";
  EXPECT_EQ(mask & (EV_RXCHAR | EV_RXFLAG), EV_RXCHAR | EV_RXFLAG);
}

TEST_F(OpenPty, WriteTheKernelCannotTakeStaysPendingUntilTheLineDrains) {
  const std::string big(256 * 1024, 'x');
  std::uint32_t written = 0;
  ASSERT_EQ(port->WriteFile(big.data(), static_cast<std::uint32_t>(big.size()), written),
            kErrorIoPending);
  std::uint32_t transferred = 0;
  EXPECT_EQ(port->GetOverlappedResult(CommSlot::Write, transferred), kErrorIoPending);
  EXPECT_GT(transferred, 0u);
  EXPECT_LT(transferred, big.size());
  // The device reads; the port finishes the write on its own while it waits.
  std::thread reader(
      [&] { EXPECT_EQ(pty.Read(big.size(), std::chrono::seconds(60)).size(), big.size()); });
  std::uint32_t result = kErrorIoPending;
  for (int i = 0; i < 2000 && result == kErrorIoPending; ++i) {
    port->WaitForSlots({}, 50);
    result = port->GetOverlappedResult(CommSlot::Write, transferred);
  }
  reader.join();
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(transferred, big.size());
}

// Guards against the purge of closing throwing away what the other side of a
// pseudo-terminal had not read yet, although the write had ended.
TEST_F(OpenPty, PurgeAfterAWriteEndedKeepsWhatTheOtherSideHasNotRead) {
  std::uint32_t written = 0;
  ASSERT_EQ(port->WriteFile("\x10", 1, written), 0u);
  EXPECT_EQ(port->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR), 0u);
  EXPECT_EQ(port->CloseHandle(), 0u);
  EXPECT_EQ(pty.Read(1, std::chrono::seconds(5)), "\x10");
}

// Guards against a device that has gone failing every call after it: it is reported by the
// status poll, and closing it succeeds.
TEST_F(OpenPty, AVanishedDeviceFailsThePollAndClosesCleanly) {
  pty.CloseMaster();
  std::uint32_t errors = 0;
  CommStat stat;
  EXPECT_EQ(port->WaitForSlots({CommSlot::Read}, 100), kWaitTimeout);
  EXPECT_EQ(port->ClearCommError(errors, stat), static_cast<std::uint32_t>(EIO));
  EXPECT_EQ(port->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR), 0u);
  EXPECT_EQ(port->EscapeCommFunction(CLRDTR), 0u);
  EXPECT_EQ(port->EscapeCommFunction(CLRRTS), 0u);
  EXPECT_EQ(port->CloseHandle(), 0u);
}

TEST_F(OpenPty, PurgeAbortsAPendingWrite) {
  const std::string big(256 * 1024, 'x');
  std::uint32_t written = 0;
  ASSERT_EQ(port->WriteFile(big.data(), static_cast<std::uint32_t>(big.size()), written),
            kErrorIoPending);
  EXPECT_EQ(port->PurgeComm(PURGE_TXABORT | PURGE_TXCLEAR), 0u);
  EXPECT_EQ(port->WaitForSlots({CommSlot::Write}, 60000), 0u);
  std::uint32_t transferred = 0;
  EXPECT_EQ(port->GetOverlappedResult(CommSlot::Write, transferred), kErrorOperationAborted);
  EXPECT_EQ(port->GetOverlappedResult(CommSlot::Write, transferred), 0u) << "collected once";
}

TEST_F(OpenPty, ClosingEndsAWaitAndItsEventWait) {
  std::uint32_t mask = 0;
  ASSERT_EQ(port->WaitCommEvent(mask), kErrorIoPending);
  std::uint32_t result = 0;
  std::thread waiter([&] { result = port->WaitForSlots({CommSlot::Status}, 60000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(port->CloseHandle(), 0u);
  waiter.join();
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(port->GetOverlappedResult(CommSlot::Status, mask), 0u);
  EXPECT_EQ(mask, 0u) << "no events";
  EXPECT_EQ(port->CloseHandle(), static_cast<std::uint32_t>(EBADF));
}

TEST_F(OpenPty, MaskChangeEndsTheEventWaitWithoutEvents) {
  std::uint32_t mask = 0;
  ASSERT_EQ(port->WaitCommEvent(mask), kErrorIoPending);
  EXPECT_EQ(port->SetCommMask(0), 0u);
  EXPECT_EQ(port->WaitForSlots({CommSlot::Status}, 60000), 0u);
  EXPECT_EQ(port->GetOverlappedResult(CommSlot::Status, mask), 0u);
  EXPECT_EQ(mask, 0u);
  EXPECT_EQ(port->WaitCommEvent(mask), 0u) << "with no events selected nothing waits";
}

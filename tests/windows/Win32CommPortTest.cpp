// The Win32 comm port: the line description and the hold flags as pure functions, and the
// port itself on a COM port whose other side echoes every byte. Under Wine that port is a
// link $WINEPREFIX/dosdevices/comN to a pseudo-terminal (wine_comm_port.sh sets it up and
// names it in QUENZHAL_TEST_COM); without it the line tests are skipped, saying so.
#include "platform/Win32CommPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/System.h"

using namespace platform;
using namespace platform::comm;

namespace {

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(Win32CommPortDcb, EveryFieldAndFlagSurvivesTheSystemsRecord) {
  const std::uint32_t flag_rows[] = {
      DCB_BINARY | DCB_PARITY,
      0x380,   // XOn-XOff
      0x2004,  // RTS-CTS
      0x28,    // DSR-DTR
      0x1090,  // DTR and RTS enabled, go on after XOFF
      DCB_BINARY | DCB_OUTX_CTS_FLOW | DCB_OUTX_DSR_FLOW | DCB_DTR_CONTROL_HANDSHAKE |
          DCB_DSR_SENSITIVITY | DCB_TX_CONTINUE_ON_XOFF | DCB_OUTX | DCB_INX | DCB_ERROR_CHAR |
          DCB_NULL | DCB_RTS_CONTROL_TOGGLE | DCB_ABORT_ON_ERROR,
  };
  for (const std::uint32_t flags : flag_rows) {
    CommDcb dcb;
    dcb.BaudRate = 256000;
    dcb.Flags = flags;
    dcb.XonLim = 1351;
    dcb.XoffLim = 4096;
    dcb.ByteSize = 7;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.XonChar = '\x11';
    dcb.XoffChar = '\x13';
    dcb.ErrorChar = '\xFF';
    dcb.EofChar = 0;
    dcb.EvtChar = '\x80';
    DCB win{};
    DcbToWin32(dcb, win);
    EXPECT_EQ(win.DCBlength, sizeof(DCB));
    CommDcb back;
    Win32ToDcb(win, back);
    EXPECT_EQ(back, dcb) << std::hex << flags;
  }
  // The two-bit control fields sit where the system keeps them.
  CommDcb dcb;
  dcb.Flags = DCB_DTR_CONTROL_HANDSHAKE | DCB_RTS_CONTROL_ENABLE;
  DCB win{};
  DcbToWin32(dcb, win);
  EXPECT_EQ(win.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
  EXPECT_EQ(win.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
}

TEST(Win32CommPortDcb, HoldFlagsInTheComponentsOrder) {
  COMSTAT stat{};
  stat.fCtsHold = 1;
  stat.fXoffSent = 1;
  stat.fTxim = 1;
  EXPECT_EQ(HoldFlags(stat), fCtsHold | fXoffSent | fTxim);
}

// --- On a line ---------------------------------------------------------------------------

class Win32CommPortLine : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* name = std::getenv("QUENZHAL_TEST_COM");
    if (name == nullptr || *name == 0)
      GTEST_SKIP() << "no COM port with an echoing peer (QUENZHAL_TEST_COM; wine_comm_port.sh)";
    name_ = name;
    std::uint32_t error = 0;
    port_ = SystemCommPorts().Open(DevicePath(name_), error);
    ASSERT_NE(port_, nullptr) << name_ << ": " << error;
    CommDcb dcb;
    ASSERT_EQ(port_->GetCommState(dcb), 0u);
    dcb.BaudRate = 115200;
    dcb.Flags = DCB_BINARY;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_EQ(port_->SetCommState(dcb), 0u);
    ASSERT_EQ(port_->SetCommTimeouts({0xFFFFFFFF, 0, 0, 0, 1000}), 0u);
    ASSERT_EQ(port_->SetCommMask(EV_ALL), 0u);
  }
  void TearDown() override {
    if (port_) port_->CloseHandle();
  }

  // Waits for the slot's operation to end, bounded; its result, the count in `count`.
  std::uint32_t Collect(CommSlot slot, std::uint32_t& count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      const std::uint32_t r = port_->GetOverlappedResult(slot, count);
      if (r != kErrorIoIncomplete && r != kErrorIoPending) return r;
      if (std::chrono::steady_clock::now() > end) return r;
      port_->WaitForSlots({slot}, 75);
    }
  }

  // Everything the peer sends within `ms`, read as the worker reads: an event wait, then a
  // read of what is waiting.
  std::string Receive(std::size_t want) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
      std::uint32_t mask = 0;
      std::uint32_t r = port_->WaitCommEvent(mask);
      if (r == kErrorIoPending) r = Collect(CommSlot::Status, mask);
      EXPECT_EQ(r, 0u);
      CommStat stat;
      std::uint32_t errors = 0;
      EXPECT_EQ(port_->ClearCommError(errors, stat), 0u);
      if (stat.cbInQue == 0) continue;
      std::string buffer(stat.cbInQue, '\0');
      std::uint32_t n = 0;
      r = port_->ReadFile(buffer.data(), stat.cbInQue, n);
      if (r == kErrorIoPending) r = Collect(CommSlot::Read, n);
      EXPECT_EQ(r, 0u);
      got += buffer.substr(0, n);
    }
    return got;
  }

  std::string name_;
  std::shared_ptr<CommPort> port_;
};

TEST_F(Win32CommPortLine, BytesWrittenComeBackThroughTheEventWaitAndTheRead) {
  const std::string data = "\x02\x10\x10\x03 every byte value: \x00\xFF\x80";
  std::uint32_t written = 0;
  std::uint32_t r = port_->WriteFile(data.data(), static_cast<std::uint32_t>(data.size()), written);
  // A write is done when its bytes have left, within its time-out.
  if (r == kErrorIoPending) r = Collect(CommSlot::Write, written);
  ASSERT_EQ(r, 0u);
  EXPECT_EQ(written, data.size());
  CommStat stat;
  std::uint32_t errors = 0;
  ASSERT_EQ(port_->ClearCommError(errors, stat), 0u);
  EXPECT_EQ(stat.cbOutQue, 0u) << "nothing of a finished write is left queued";
  EXPECT_EQ(Receive(data.size()), data);
}

TEST_F(Win32CommPortLine, ModemLinesAndBreakAnswer) {
  std::uint32_t status = 0;
  EXPECT_EQ(port_->GetCommModemStatus(status), 0u)
      << "Wine asks the pty's modem lines; the preloaded shim answers them";
  for (const std::uint32_t f : {SETRTS, CLRRTS, SETDTR, CLRDTR})
    EXPECT_EQ(port_->EscapeCommFunction(f), 0u) << f;
  EXPECT_EQ(port_->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR), 0u);
}

// Regression: under Wine the closing's cancel of the event wait was not found and waited out
// its bound of a second.
TEST_F(Win32CommPortLine, ClosingEndsAPendingEventWaitAndReadPromptlyAndThenEveryCallFails) {
  std::uint32_t mask = 0;
  // Wine reports EV_RXCHAR as long as bytes wait (level-triggered): the queue is emptied.
  ASSERT_EQ(port_->PurgeComm(PURGE_RXCLEAR), 0u);
  const std::uint32_t r = port_->WaitCommEvent(mask);
  ASSERT_TRUE(r == kErrorIoPending || r == 0u) << r;
  // Wine keeps a read with the "at once" time-outs pending on an empty queue; Windows ends it
  // at once with nothing.
  char byte = 0;
  std::uint32_t n = 0;
  const std::uint32_t read = port_->ReadFile(&byte, 1, n);
  ASSERT_TRUE(read == kErrorIoPending || (read == 0u && n == 0u)) << read;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port_->CloseHandle(), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  std::uint32_t got = 0;
  const std::uint32_t ended = port_->GetOverlappedResult(CommSlot::Status, got);
  EXPECT_TRUE(ended == 0u || ended == kErrorOperationAborted) << ended;
  EXPECT_EQ(got, 0u) << "the ended wait carries no event";
  EXPECT_EQ(port_->GetCommModemStatus(mask), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  port_.reset();
}

// Windows opens a COM port for one program only; Wine does not make it exclusive.
TEST_F(Win32CommPortLine, SecondOpeningIsRefusedOnWindowsAndAllowedByWine) {
  std::uint32_t error = 0;
  auto second = SystemCommPorts().Open(DevicePath(name_), error);
  if (UnderWine()) {
    EXPECT_NE(second, nullptr) << "Wine's behaviour changed: " << error;
  } else {
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  }
  if (second) second->CloseHandle();
}

}  // namespace

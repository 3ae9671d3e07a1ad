// The comm-port seam: one opened serial port with the communication calls the serial
// component was designed against, each with the same arguments and the results its logic
// tells apart.
//
// Every call returns 0 for success ("done at once"), kErrorIoPending for an operation that
// stays outstanding, kErrorIoIncomplete / kErrorOperationAborted from a completion poll, or
// an OS error code (errno on Linux, the system's own code on Windows). A port has three
// slots for outstanding operations: one write, one read and one event wait.
//
// Thread safety: a port may be used from the component's main thread and its worker thread
// at the same time; after CloseHandle() every call fails (EBADF on Linux,
// ERROR_INVALID_HANDLE on Windows) except the completion polls, which still report how the
// operations of the closed port ended. The factory is used on the main thread only.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

namespace platform {

// Results the logic distinguishes besides success and plain OS errors. They keep the values
// the component reports as Code, so that logs read the same on every platform.
inline constexpr std::uint32_t kErrorOperationAborted = 995;
inline constexpr std::uint32_t kErrorIoIncomplete = 996;
inline constexpr std::uint32_t kErrorIoPending = 997;
// Results of WaitForSlots besides the index of the slot that completed.
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;

namespace comm {
// Event bits (SetCommMask, WaitCommEvent).
inline constexpr std::uint32_t EV_RXCHAR = 0x1;
inline constexpr std::uint32_t EV_RXFLAG = 0x2;
inline constexpr std::uint32_t EV_TXEMPTY = 0x4;
inline constexpr std::uint32_t EV_CTS = 0x8;
inline constexpr std::uint32_t EV_DSR = 0x10;
inline constexpr std::uint32_t EV_RLSD = 0x20;
inline constexpr std::uint32_t EV_BREAK = 0x40;
inline constexpr std::uint32_t EV_ERR = 0x80;
inline constexpr std::uint32_t EV_RING = 0x100;
inline constexpr std::uint32_t EV_ALL = 0x1FF;

// Modem status bits (GetCommModemStatus).
inline constexpr std::uint32_t MS_CTS_ON = 0x10;
inline constexpr std::uint32_t MS_DSR_ON = 0x20;
inline constexpr std::uint32_t MS_RING_ON = 0x40;
inline constexpr std::uint32_t MS_RLSD_ON = 0x80;

// Line error bits (ClearCommError).
inline constexpr std::uint32_t CE_RXOVER = 0x1;
inline constexpr std::uint32_t CE_OVERRUN = 0x2;
inline constexpr std::uint32_t CE_RXPARITY = 0x4;
inline constexpr std::uint32_t CE_FRAME = 0x8;
inline constexpr std::uint32_t CE_BREAK = 0x10;

// EscapeCommFunction.
inline constexpr std::uint32_t SETXOFF = 1;
inline constexpr std::uint32_t SETXON = 2;
inline constexpr std::uint32_t SETRTS = 3;
inline constexpr std::uint32_t CLRRTS = 4;
inline constexpr std::uint32_t SETDTR = 5;
inline constexpr std::uint32_t CLRDTR = 6;
inline constexpr std::uint32_t SETBREAK = 8;
inline constexpr std::uint32_t CLRBREAK = 9;

// PurgeComm.
inline constexpr std::uint32_t PURGE_TXABORT = 0x1;
inline constexpr std::uint32_t PURGE_RXABORT = 0x2;
inline constexpr std::uint32_t PURGE_TXCLEAR = 0x4;
inline constexpr std::uint32_t PURGE_RXCLEAR = 0x8;

// Hold flags of CommStat::Flags, in the order of the one-byte set the component publishes.
inline constexpr std::uint8_t fCtsHold = 0x01;
inline constexpr std::uint8_t fDsrHold = 0x02;
inline constexpr std::uint8_t fRlsdHold = 0x04;
inline constexpr std::uint8_t fXoffHold = 0x08;
inline constexpr std::uint8_t fXoffSent = 0x10;
inline constexpr std::uint8_t fEof = 0x20;
inline constexpr std::uint8_t fTxim = 0x40;

// Bits of CommDcb::Flags.
inline constexpr std::uint32_t DCB_BINARY = 0x1;
inline constexpr std::uint32_t DCB_PARITY = 0x2;
inline constexpr std::uint32_t DCB_OUTX_CTS_FLOW = 0x4;
inline constexpr std::uint32_t DCB_OUTX_DSR_FLOW = 0x8;
inline constexpr std::uint32_t DCB_DTR_CONTROL_MASK = 0x30;
inline constexpr std::uint32_t DCB_DTR_CONTROL_ENABLE = 0x10;
inline constexpr std::uint32_t DCB_DTR_CONTROL_HANDSHAKE = 0x20;
inline constexpr std::uint32_t DCB_DSR_SENSITIVITY = 0x40;
inline constexpr std::uint32_t DCB_TX_CONTINUE_ON_XOFF = 0x80;
inline constexpr std::uint32_t DCB_OUTX = 0x100;
inline constexpr std::uint32_t DCB_INX = 0x200;
inline constexpr std::uint32_t DCB_ERROR_CHAR = 0x400;
inline constexpr std::uint32_t DCB_NULL = 0x800;
inline constexpr std::uint32_t DCB_RTS_CONTROL_MASK = 0x3000;
inline constexpr std::uint32_t DCB_RTS_CONTROL_ENABLE = 0x1000;
inline constexpr std::uint32_t DCB_RTS_CONTROL_HANDSHAKE = 0x2000;
inline constexpr std::uint32_t DCB_RTS_CONTROL_TOGGLE = 0x3000;
inline constexpr std::uint32_t DCB_ABORT_ON_ERROR = 0x4000;

// CommDcb::Parity and CommDcb::StopBits.
inline constexpr std::uint8_t NOPARITY = 0;
inline constexpr std::uint8_t ODDPARITY = 1;
inline constexpr std::uint8_t EVENPARITY = 2;
inline constexpr std::uint8_t MARKPARITY = 3;
inline constexpr std::uint8_t SPACEPARITY = 4;
inline constexpr std::uint8_t ONESTOPBIT = 0;
inline constexpr std::uint8_t ONE5STOPBITS = 1;
inline constexpr std::uint8_t TWOSTOPBITS = 2;
}  // namespace comm

// The line description (the flag word holds the DCB_ bits above).
struct CommDcb {
  std::uint32_t BaudRate = 0;
  std::uint32_t Flags = 0;
  std::uint16_t XonLim = 0;
  std::uint16_t XoffLim = 0;
  std::uint8_t ByteSize = 8;
  std::uint8_t Parity = 0;
  std::uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  bool operator==(const CommDcb&) const = default;
};

// Timeouts in milliseconds. A ReadIntervalTimeout of 0xFFFFFFFF with the two read totals 0
// makes every read return at once with what has arrived.
struct CommTimeouts {
  std::uint32_t ReadIntervalTimeout = 0;
  std::uint32_t ReadTotalTimeoutMultiplier = 0;
  std::uint32_t ReadTotalTimeoutConstant = 0;
  std::uint32_t WriteTotalTimeoutMultiplier = 0;
  std::uint32_t WriteTotalTimeoutConstant = 0;
  bool operator==(const CommTimeouts&) const = default;
};

// Status of the last ClearCommError: hold flags and the two queue counts.
struct CommStat {
  std::uint8_t Flags = 0;
  std::uint32_t cbInQue = 0;
  std::uint32_t cbOutQue = 0;
};

enum class CommSlot { Write, Read, Status };

class CommPort {
 public:
  virtual ~CommPort() = default;

  // Driver queue sizes in bytes.
  virtual std::uint32_t SetupComm(std::uint32_t in_queue, std::uint32_t out_queue) = 0;
  virtual std::uint32_t GetCommState(CommDcb& dcb) = 0;
  virtual std::uint32_t SetCommState(const CommDcb& dcb) = 0;
  virtual std::uint32_t GetCommTimeouts(CommTimeouts& timeouts) = 0;
  virtual std::uint32_t SetCommTimeouts(const CommTimeouts& timeouts) = 0;

  // Selects the events a wait reports. A change completes an outstanding event wait with
  // no event bits, and drops events that arrived unwaited.
  virtual std::uint32_t SetCommMask(std::uint32_t mask) = 0;
  // Done at once (mask holds the events that arrived since the last wait) or pending; the
  // mask of a pending wait is collected with GetOverlappedResult(Status).
  virtual std::uint32_t WaitCommEvent(std::uint32_t& mask) = 0;
  // Done at once with the count, or pending: the port fills `buffer`, which must then stay
  // valid until GetOverlappedResult(Read) has collected the read or it has been reset.
  virtual std::uint32_t ReadFile(void* buffer, std::uint32_t size, std::uint32_t& read) = 0;
  // Takes a copy of the bytes. Done at once with the count, or pending: the port finishes
  // the write on its own.
  virtual std::uint32_t WriteFile(const void* data, std::uint32_t size, std::uint32_t& written) = 0;
  // Polls a slot without waiting: 0 with the bytes transferred (for the Status slot: the
  // event mask), kErrorIoIncomplete or kErrorIoPending while it runs (with the bytes so
  // far), kErrorOperationAborted after a purge, or another error.
  virtual std::uint32_t GetOverlappedResult(CommSlot slot, std::uint32_t& transferred) = 0;
  // Abandons the slot's operation (a write keeps no remainder) and clears its completion.
  virtual std::uint32_t ResetOverlapped(CommSlot slot) = 0;
  // Waits at most `timeout_ms` for an operation in one of `slots` to complete: returns the
  // index of the first completed slot in `slots`, kWaitTimeout or kWaitFailed. The wait also
  // ends early, with kWaitTimeout, when an outstanding write has just ended, so that its
  // completion is seen at once. With no slots it is a bounded pause on the port.
  virtual std::uint32_t WaitForSlots(std::initializer_list<CommSlot> slots,
                                     std::uint32_t timeout_ms) = 0;

  // Line errors (CE_ bits) since the last call, then clears them; the hold flags and queue
  // counts.
  virtual std::uint32_t ClearCommError(std::uint32_t& errors, CommStat& stat) = 0;
  virtual std::uint32_t GetCommModemStatus(std::uint32_t& status) = 0;
  virtual std::uint32_t EscapeCommFunction(std::uint32_t function) = 0;
  virtual std::uint32_t SetCommBreak() = 0;
  virtual std::uint32_t ClearCommBreak() = 0;
  virtual std::uint32_t PurgeComm(std::uint32_t flags) = 0;
  // Releases the device. Outstanding operations end (an event wait with no bits, a write
  // as aborted).
  virtual std::uint32_t CloseHandle() = 0;
};

class CommPortFactory {
 public:
  virtual ~CommPortFactory() = default;
  // Opens the device at `path` exclusively for reading and writing; null with `error` set
  // when that fails.
  virtual std::shared_ptr<CommPort> Open(const std::string& path, std::uint32_t& error) = 0;
};

// The operating system's serial ports.
CommPortFactory& SystemCommPorts();

}  // namespace platform

// The comm-port seam on the Win32 communications API, call for call. Error codes are the
// system's own (GetLastError), passed on unchanged.
//
// Each slot owns an OVERLAPPED record with a manual-reset event. The port keeps the state
// of each slot so that completions are collected once, a closed port still tells how its
// operations ended, and a wait never sleeps on a handle that is gone.
//
// A write is done when its bytes have left: after the system completed the WriteFile, the
// slot stays outstanding until the driver's output queue is empty (COMSTAT cbOutQue 0),
// within the write's time-out. Some drivers complete a write once the bytes are queued,
// and closing purges the queue.
#include "platform/Win32CommPort.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/WinText.h"

namespace platform {

using namespace comm;

namespace {

// How long closing and abandoning wait for a cancelled operation to end.
constexpr DWORD kCancelWaitMs = 1000;
// An output queue that is not empty is looked at again after the time its bytes take, but
// at least this often.
constexpr DWORD kDrainRecheckMaxMs = 50;
constexpr std::uint32_t kDrainBoundWithoutTimeoutMs = 1000;

std::uint32_t LastError() {
  return GetLastError();
}

std::int64_t MonotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void DcbToWin32(const CommDcb& dcb, DCB& win) {
  win.DCBlength = sizeof(DCB);
  win.BaudRate = dcb.BaudRate;
  win.fBinary = (dcb.Flags & DCB_BINARY) != 0;
  win.fParity = (dcb.Flags & DCB_PARITY) != 0;
  win.fOutxCtsFlow = (dcb.Flags & DCB_OUTX_CTS_FLOW) != 0;
  win.fOutxDsrFlow = (dcb.Flags & DCB_OUTX_DSR_FLOW) != 0;
  win.fDtrControl = (dcb.Flags & DCB_DTR_CONTROL_MASK) >> 4;
  win.fDsrSensitivity = (dcb.Flags & DCB_DSR_SENSITIVITY) != 0;
  win.fTXContinueOnXoff = (dcb.Flags & DCB_TX_CONTINUE_ON_XOFF) != 0;
  win.fOutX = (dcb.Flags & DCB_OUTX) != 0;
  win.fInX = (dcb.Flags & DCB_INX) != 0;
  win.fErrorChar = (dcb.Flags & DCB_ERROR_CHAR) != 0;
  win.fNull = (dcb.Flags & DCB_NULL) != 0;
  win.fRtsControl = (dcb.Flags & DCB_RTS_CONTROL_MASK) >> 12;
  win.fAbortOnError = (dcb.Flags & DCB_ABORT_ON_ERROR) != 0;
  win.XonLim = dcb.XonLim;
  win.XoffLim = dcb.XoffLim;
  win.ByteSize = dcb.ByteSize;
  win.Parity = dcb.Parity;
  win.StopBits = dcb.StopBits;
  win.XonChar = dcb.XonChar;
  win.XoffChar = dcb.XoffChar;
  win.ErrorChar = dcb.ErrorChar;
  win.EofChar = dcb.EofChar;
  win.EvtChar = dcb.EvtChar;
}

void Win32ToDcb(const DCB& win, CommDcb& dcb) {
  dcb.BaudRate = win.BaudRate;
  dcb.Flags = (win.fBinary ? DCB_BINARY : 0u) | (win.fParity ? DCB_PARITY : 0u) |
              (win.fOutxCtsFlow ? DCB_OUTX_CTS_FLOW : 0u) |
              (win.fOutxDsrFlow ? DCB_OUTX_DSR_FLOW : 0u) |
              ((static_cast<std::uint32_t>(win.fDtrControl) << 4) & DCB_DTR_CONTROL_MASK) |
              (win.fDsrSensitivity ? DCB_DSR_SENSITIVITY : 0u) |
              (win.fTXContinueOnXoff ? DCB_TX_CONTINUE_ON_XOFF : 0u) | (win.fOutX ? DCB_OUTX : 0u) |
              (win.fInX ? DCB_INX : 0u) | (win.fErrorChar ? DCB_ERROR_CHAR : 0u) |
              (win.fNull ? DCB_NULL : 0u) |
              ((static_cast<std::uint32_t>(win.fRtsControl) << 12) & DCB_RTS_CONTROL_MASK) |
              (win.fAbortOnError ? DCB_ABORT_ON_ERROR : 0u);
  dcb.XonLim = win.XonLim;
  dcb.XoffLim = win.XoffLim;
  dcb.ByteSize = win.ByteSize;
  dcb.Parity = win.Parity;
  dcb.StopBits = win.StopBits;
  dcb.XonChar = win.XonChar;
  dcb.XoffChar = win.XoffChar;
  dcb.ErrorChar = win.ErrorChar;
  dcb.EofChar = win.EofChar;
  dcb.EvtChar = win.EvtChar;
}

std::uint8_t HoldFlags(const COMSTAT& stat) {
  return static_cast<std::uint8_t>(
      (stat.fCtsHold ? fCtsHold : 0) | (stat.fDsrHold ? fDsrHold : 0) |
      (stat.fRlsdHold ? fRlsdHold : 0) | (stat.fXoffHold ? fXoffHold : 0) |
      (stat.fXoffSent ? fXoffSent : 0) | (stat.fEof ? fEof : 0) | (stat.fTxim ? fTxim : 0));
}

namespace {

// One outstanding operation.
struct Slot {
  enum class State {
    Idle,      // nothing outstanding, nothing to collect
    Pending,   // the system runs it
    Draining,  // (write) the system is done, the output queue is not yet empty
    Done,      // ended; result and count wait to be collected
  };
  OVERLAPPED ov{};
  HANDLE event = nullptr;
  State state = State::Idle;
  std::uint32_t result = 0;
  std::uint32_t count = 0;
};

class Win32CommPort final : public CommPort {
 public:
  Win32CommPort(HANDLE handle, HANDLE wake) : handle_(handle), wake_(wake) {
    for (Slot* slot : {&write_, &read_, &status_})
      slot->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }

  ~Win32CommPort() override {
    CloseHandle();
    for (Slot* slot : {&write_, &read_, &status_})
      if (slot->event) ::CloseHandle(slot->event);
    ::CloseHandle(wake_);
  }

  bool Ready() const { return write_.event && read_.event && status_.event; }

  // The line as it was found at opening, for the drain times.
  void Learn(const DCB& line) {
    baud_ = line.BaudRate;
    bits_per_char_ = 1u + line.ByteSize + (line.Parity != NOPARITY ? 1u : 0u) +
                     (line.StopBits == ONESTOPBIT ? 1u : 2u);
  }

  std::uint32_t SetupComm(std::uint32_t in_queue, std::uint32_t out_queue) override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    return ::SetupComm(handle_, in_queue, out_queue) ? 0 : LastError();
  }

  std::uint32_t GetCommState(CommDcb& dcb) override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    DCB win{};
    win.DCBlength = sizeof win;
    if (!::GetCommState(handle_, &win)) return LastError();
    Win32ToDcb(win, dcb);
    return 0;
  }

  std::uint32_t SetCommState(const CommDcb& dcb) override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    DCB win{};
    win.DCBlength = sizeof win;
    if (!::GetCommState(handle_, &win)) return LastError();
    DcbToWin32(dcb, win);
    if (!::SetCommState(handle_, &win)) return LastError();
    Learn(win);
    return 0;
  }

  std::uint32_t GetCommTimeouts(CommTimeouts& timeouts) override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    COMMTIMEOUTS win{};
    if (!::GetCommTimeouts(handle_, &win)) return LastError();
    timeouts = {win.ReadIntervalTimeout, win.ReadTotalTimeoutMultiplier,
                win.ReadTotalTimeoutConstant, win.WriteTotalTimeoutMultiplier,
                win.WriteTotalTimeoutConstant};
    return 0;
  }

  std::uint32_t SetCommTimeouts(const CommTimeouts& timeouts) override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    COMMTIMEOUTS win{timeouts.ReadIntervalTimeout, timeouts.ReadTotalTimeoutMultiplier,
                     timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutMultiplier,
                     timeouts.WriteTotalTimeoutConstant};
    if (!::SetCommTimeouts(handle_, &win)) return LastError();
    timeouts_ = timeouts;
    return 0;
  }

  std::uint32_t SetCommMask(std::uint32_t mask) override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    const std::uint32_t r = ::SetCommMask(handle_, mask) ? 0 : LastError();
    SetEvent(wake_);
    return r;
  }

  std::uint32_t WaitCommEvent(std::uint32_t& mask) override {
    std::lock_guard lock(mutex_);
    mask = 0;
    if (closed_) return ERROR_INVALID_HANDLE;
    if (status_.state != Slot::State::Idle) return ERROR_BUSY;
    Arm(status_);
    event_mask_ = 0;
    if (::WaitCommEvent(handle_, &event_mask_, &status_.ov)) {
      mask = event_mask_;
      return 0;
    }
    const std::uint32_t error = LastError();
    if (error != ERROR_IO_PENDING) return error;
    status_.state = Slot::State::Pending;
    return kErrorIoPending;
  }

  std::uint32_t ReadFile(void* buffer, std::uint32_t size, std::uint32_t& read) override {
    std::lock_guard lock(mutex_);
    read = 0;
    if (closed_) return ERROR_INVALID_HANDLE;
    if (read_.state != Slot::State::Idle) return ERROR_BUSY;
    Arm(read_);
    if (::ReadFile(handle_, buffer, size, nullptr, &read_.ov)) {
      DWORD n = 0;
      ::GetOverlappedResult(handle_, &read_.ov, &n, FALSE);
      read = n;
      return 0;
    }
    const std::uint32_t error = LastError();
    if (error != ERROR_IO_PENDING) return error;
    read_.state = Slot::State::Pending;
    return kErrorIoPending;
  }

  std::uint32_t WriteFile(const void* data, std::uint32_t size, std::uint32_t& written) override {
    std::lock_guard lock(mutex_);
    written = 0;
    if (closed_) return ERROR_INVALID_HANDLE;
    if (write_.state == Slot::State::Pending || write_.state == Slot::State::Draining)
      return ERROR_BUSY;
    tx_.assign(static_cast<const char*>(data), size);
    Arm(write_);
    write_announced_ = false;
    const std::uint64_t bound =
        static_cast<std::uint64_t>(timeouts_.WriteTotalTimeoutMultiplier) * size +
        timeouts_.WriteTotalTimeoutConstant;
    drain_deadline_ = MonotonicMs() +
                      static_cast<std::int64_t>(
                          bound != 0 ? bound : LineTimeMs(size) * 2 + kDrainBoundWithoutTimeoutMs);
    if (::WriteFile(handle_, tx_.data(), size, nullptr, &write_.ov)) {
      DWORD n = 0;
      ::GetOverlappedResult(handle_, &write_.ov, &n, FALSE);
      write_.count = n;
      write_.state = Slot::State::Draining;
      UpdateDrain();
      if (write_.state == Slot::State::Done) {
        write_.state = Slot::State::Idle;
        written = write_.count;
        return 0;
      }
      SetEvent(wake_);
      return kErrorIoPending;
    }
    const std::uint32_t error = LastError();
    if (error != ERROR_IO_PENDING) {
      tx_.clear();
      return error;
    }
    write_.state = Slot::State::Pending;
    SetEvent(wake_);
    return kErrorIoPending;
  }

  std::uint32_t GetOverlappedResult(CommSlot slot, std::uint32_t& transferred) override {
    std::lock_guard lock(mutex_);
    Slot& s = SlotOf(slot);
    transferred = 0;
    Update(s);
    switch (s.state) {
      case Slot::State::Idle:
        return 0;
      case Slot::State::Pending:
      case Slot::State::Draining:
        transferred = &s == &write_ ? write_.count : 0;
        return kErrorIoIncomplete;
      case Slot::State::Done:
        break;
    }
    s.state = Slot::State::Idle;
    transferred = &s == &status_ ? event_mask_ : s.count;
    if (&s == &write_) tx_.clear();
    return s.result;
  }

  std::uint32_t ResetOverlapped(CommSlot slot) override {
    std::lock_guard lock(mutex_);
    Slot& s = SlotOf(slot);
    if (s.state == Slot::State::Pending && !closed_) Cancel(s);
    s.state = Slot::State::Idle;
    s.ov = OVERLAPPED{};
    ResetEvent(s.event);
    if (&s == &write_) tx_.clear();
    return 0;
  }

  std::uint32_t WaitForSlots(std::initializer_list<CommSlot> slots,
                             std::uint32_t timeout_ms) override {
    std::unique_lock lock(mutex_);
    const std::int64_t deadline = MonotonicMs() + timeout_ms;
    for (;;) {
      bool write_listed = false;
      std::uint32_t index = 0;
      for (CommSlot slot : slots) {
        Slot& s = SlotOf(slot);
        if (&s == &write_) write_listed = true;
        Update(s);
        if (s.state == Slot::State::Done) return index;
        ++index;
      }
      if (!write_listed) {
        Update(write_);
        if (write_.state == Slot::State::Done && !write_announced_) {
          write_announced_ = true;
          return kWaitTimeout;
        }
      }
      if (closed_) return kWaitTimeout;
      const std::int64_t remaining = deadline - MonotonicMs();
      if (remaining <= 0) return kWaitTimeout;

      DWORD timeout = static_cast<DWORD>(remaining);
      std::vector<HANDLE> handles{wake_};
      for (CommSlot slot : slots) {
        const Slot& s = SlotOf(slot);
        if (s.state == Slot::State::Pending) handles.push_back(s.event);
      }
      if (!write_listed && write_.state == Slot::State::Pending) handles.push_back(write_.event);
      // The output queue gives no signal when it runs empty: look again when it should be.
      if (write_.state == Slot::State::Draining)
        timeout =
            std::min<DWORD>(timeout, std::clamp<DWORD>(drain_recheck_ms_, 1, kDrainRecheckMaxMs));
      ++waiting_;
      lock.unlock();
      const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                             FALSE, timeout);
      lock.lock();
      if (--waiting_ == 0 && closed_) idle_.notify_all();
      if (r == WAIT_FAILED) return kWaitFailed;
    }
  }

  std::uint32_t ClearCommError(std::uint32_t& errors, CommStat& stat) override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    DWORD e = 0;
    COMSTAT cs{};
    if (!::ClearCommError(handle_, &e, &cs)) return LastError();
    errors = e | std::exchange(saved_errors_, 0);
    stat.Flags = HoldFlags(cs);
    stat.cbInQue = cs.cbInQue;
    stat.cbOutQue = cs.cbOutQue;
    return 0;
  }

  std::uint32_t GetCommModemStatus(std::uint32_t& status) override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    DWORD s = 0;
    if (!::GetCommModemStatus(handle_, &s)) return LastError();
    status = s;
    return 0;
  }

  std::uint32_t EscapeCommFunction(std::uint32_t function) override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    return ::EscapeCommFunction(handle_, function) ? 0 : LastError();
  }

  std::uint32_t SetCommBreak() override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    return ::SetCommBreak(handle_) ? 0 : LastError();
  }

  std::uint32_t ClearCommBreak() override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    return ::ClearCommBreak(handle_) ? 0 : LastError();
  }

  std::uint32_t PurgeComm(std::uint32_t flags) override {
    std::lock_guard lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    const std::uint32_t r = ::PurgeComm(handle_, flags) ? 0 : LastError();
    // A write whose bytes were waiting in the queue ends as a write the system aborted.
    if ((flags & PURGE_TXABORT) && write_.state == Slot::State::Draining)
      Finish(write_, ERROR_OPERATION_ABORTED);
    SetEvent(wake_);
    return r;
  }

  std::uint32_t CloseHandle() override {
    std::unique_lock lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    closed_ = true;
    SetEvent(wake_);
    // A wait sleeping in WaitForMultipleObjects returns at once; only then may the handle go.
    idle_.wait(lock, [&] { return waiting_ == 0; });
    if (write_.state == Slot::State::Draining) Finish(write_, ERROR_OPERATION_ABORTED);
    // An event wait ends when the mask changes; Wine does not find it to cancel (the
    // cancel would cost its whole bound).
    if (status_.state == Slot::State::Pending) ::SetCommMask(handle_, 0);
    // Collect how each operation ended while the handle still exists.
    for (Slot* s : {&write_, &read_, &status_})
      if (s->state == Slot::State::Pending) Cancel(*s);
    const BOOL ok = ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok ? 0 : LastError();
  }

 private:
  Slot& SlotOf(CommSlot slot) {
    switch (slot) {
      case CommSlot::Write:
        return write_;
      case CommSlot::Read:
        return read_;
      case CommSlot::Status:
        break;
    }
    return status_;
  }
  const Slot& SlotOf(CommSlot slot) const { return const_cast<Win32CommPort*>(this)->SlotOf(slot); }

  void Arm(Slot& s) {
    ResetEvent(s.event);
    s.ov = OVERLAPPED{};
    s.ov.hEvent = s.event;
    s.result = 0;
    s.count = 0;
  }

  void Finish(Slot& s, std::uint32_t result) {
    s.state = Slot::State::Done;
    s.result = result;
  }

  // The time `bytes` take on the line, in whole milliseconds, at least 1.
  std::uint32_t LineTimeMs(std::uint64_t bytes) const {
    if (baud_ == 0) return 1;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(bytes * bits_per_char_ * 1000 / baud_ + 1, 0xFFFFFFFFu));
  }

  // Takes the system's completion of a pending operation into the slot.
  void Update(Slot& s) {
    if (s.state == Slot::State::Pending && !closed_) {
      DWORD n = 0;
      if (::GetOverlappedResult(handle_, &s.ov, &n, FALSE)) {
        s.count = n;
        if (&s == &write_) {
          s.state = Slot::State::Draining;
        } else {
          Finish(s, 0);
        }
      } else {
        const std::uint32_t error = LastError();
        if (error == ERROR_IO_INCOMPLETE) return;
        s.count = n;
        Finish(s, error);
      }
    }
    if (&s == &write_ && s.state == Slot::State::Draining) UpdateDrain();
  }

  void UpdateDrain() {
    if (closed_) return;
    DWORD e = 0;
    COMSTAT cs{};
    if (!::ClearCommError(handle_, &e, &cs)) {
      Finish(write_, 0);  // the write itself is done; the next status poll reports the rest
      return;
    }
    saved_errors_ |= e;  // the status poll reports them
    if (cs.cbOutQue == 0 || MonotonicMs() >= drain_deadline_) {
      Finish(write_, 0);
      return;
    }
    drain_recheck_ms_ = LineTimeMs(cs.cbOutQue);
  }

  // Cancels a pending operation and waits, bounded, for the system to end it.
  void Cancel(Slot& s) {
    CancelIoEx(handle_, &s.ov);
    DWORD n = 0;
    // Not ended within the bound: given up as aborted (the last error would be the cancel's).
    if (WaitForSingleObject(s.event, kCancelWaitMs) != WAIT_OBJECT_0) {
      Finish(s, ERROR_OPERATION_ABORTED);
      return;
    }
    if (::GetOverlappedResult(handle_, &s.ov, &n, FALSE)) {
      s.count = n;
      Finish(s, &s == &write_ ? ERROR_OPERATION_ABORTED : 0);
    } else {
      const std::uint32_t error = LastError();
      Finish(s, error == ERROR_IO_INCOMPLETE ? ERROR_OPERATION_ABORTED : error);
    }
  }

  std::mutex mutex_;
  std::condition_variable idle_;
  HANDLE handle_;
  HANDLE wake_;  // auto-reset: ends a wait early
  bool closed_ = false;
  int waiting_ = 0;
  Slot write_;
  Slot read_;
  Slot status_;
  DWORD event_mask_ = 0;
  std::string tx_;
  bool write_announced_ = false;
  std::int64_t drain_deadline_ = 0;
  std::uint32_t drain_recheck_ms_ = 1;
  std::uint32_t saved_errors_ = 0;
  CommTimeouts timeouts_;
  std::uint32_t baud_ = 0;
  std::uint32_t bits_per_char_ = 10;
};

class Win32CommPortFactory final : public CommPortFactory {
 public:
  std::shared_ptr<CommPort> Open(const std::string& path, std::uint32_t& error) override {
    error = 0;
    const HANDLE handle = CreateFileW(WideFromBytes(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = LastError();
      return nullptr;
    }
    // Only communications devices: other devices in the namespace (a drive, a pipe) take
    // none of the calls that follow.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
      error = LastError();
      if (error == 0) error = ERROR_INVALID_FUNCTION;
      ::CloseHandle(handle);
      return nullptr;
    }
    const HANDLE wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!wake) {
      error = LastError();
      ::CloseHandle(handle);
      return nullptr;
    }
    auto port = std::make_shared<Win32CommPort>(handle, wake);
    if (!port->Ready()) {
      error = LastError();
      return nullptr;
    }
    port->Learn(dcb);
    return port;
  }
};

}  // namespace

CommPortFactory& SystemCommPorts() {
  static Win32CommPortFactory factory;
  return factory;
}

}  // namespace platform

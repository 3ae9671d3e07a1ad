// The comm port on Linux terminals.
//
// The port keeps its own input queue, filled from the terminal whenever it is polled: that
// makes "data arrived" an edge the event wait can sleep on (poll() on the descriptor only
// wakes for bytes nobody has taken yet), lets the queue strip zero bytes and replace bytes
// with parity errors as the line description asks, and leaves the kernel's flow control in
// charge once the queue holds its configured size. Line errors and modem line changes come
// from the interrupt counters (TIOCGICOUNT) and the modem status; devices without them
// (pseudo-terminals) get an emulation that never fails: modem outputs are accepted, the
// inputs read as a ready device (CTS, DSR and carrier on), and no line error ever occurs.
// On a USB adapter each of those requests is a control transfer of about a millisecond, so
// the line is asked at most once per kLineQueryMs (less often than the worker's passes),
// the modem lines only when the counters show a change (or once a second, for drivers
// that do not count line changes), and never with the mutex held.
//
// A write is done when its bytes have left: when the kernel has taken all of it and its
// output queue (TIOCOUTQ) is empty. Only then may closing purge without losing any of it.
//
// A device that vanishes (EIO, hang-up) is given up once: the first failed call reports
// it, and from then on nothing more is asked of the device; closing it succeeds.
//
// One mutex guards the state; it is never held while poll() sleeps. A wake descriptor ends
// a sleeping wait when the main thread changes something the wait depends on.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/CommPort.h"
#include "platform/LinuxCommPort.h"

namespace platform {

using namespace comm;

namespace {

struct StandardRate {
  std::uint32_t code;
  std::uint32_t rate;
};
constexpr StandardRate kStandardRates[] = {
    {B0, 0},           {B50, 50},         {B75, 75},         {B110, 110},         {B134, 134},
    {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},         {B1200, 1200},
    {B1800, 1800},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},       {B19200, 19200},
    {B38400, 38400},   {B57600, 57600},   {B115200, 115200}, {B230400, 230400},   {B460800, 460800},
    {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000},
};

std::uint32_t Errno() {
  return static_cast<std::uint32_t>(errno);
}

std::int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// An ioctl the device does not implement at all (as opposed to one that failed).
bool Unsupported(int error) {
  return error == ENOTTY || error == EINVAL || error == ENOSYS;
}

std::uint32_t ModemBits(int tiocm) {
  std::uint32_t bits = 0;
  if (tiocm & TIOCM_CTS) bits |= MS_CTS_ON;
  if (tiocm & TIOCM_DSR) bits |= MS_DSR_ON;
  if (tiocm & TIOCM_RNG) bits |= MS_RING_ON;
  if (tiocm & TIOCM_CAR) bits |= MS_RLSD_ON;
  return bits;
}

// What a ready device shows on a line without modem signals.
constexpr std::uint32_t kEmulatedModemStatus = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;

// The line's counters and modem lines are asked at most this often.
constexpr std::int64_t kLineQueryMs = 50;
// Drivers that do not count modem line changes still have their lines read this often.
constexpr std::int64_t kModemRefreshMs = 1000;
// A drain that makes no progress (output held) is looked at less and less often, up to
// the worker's own bound.
constexpr std::uint64_t kDrainRecheckMaxMs = 75;
// The transmitter FIFO of a UART, which TIOCOUTQ does not count, and the longest wait for
// it to empty before its output is purged.
constexpr std::uint64_t kFifoChars = 16;
constexpr std::int64_t kFifoWaitMaxMs = 50;

// Errors that mean the device itself has gone (unplugged, re-enumerated, the other side of
// a pseudo-terminal closed).
bool Vanished(int error) {
  return error == EIO || error == ENXIO || error == ENODEV;
}

// Unix98 pseudo-terminal slaves ignore line settings and have no transmitter.
bool IsPtySlave(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned major_number = major(st.st_rdev);
  return major_number >= 136 && major_number <= 143;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Line description <-> terminal settings

std::uint32_t DcbToTty(const CommDcb& dcb, TtySettings& tty) {
  const std::uint32_t dtr = dcb.Flags & DCB_DTR_CONTROL_MASK;
  const std::uint32_t rts = dcb.Flags & DCB_RTS_CONTROL_MASK;
  if (dcb.BaudRate == 0) return EINVAL;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return EINVAL;
  if (dcb.Parity > SPACEPARITY) return EINVAL;
  if (dcb.StopBits > TWOSTOPBITS) return EINVAL;
  // A UART gives 1.5 stop bits only at 5 data bits, where "two" stop bits mean 1.5.
  if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) return EINVAL;
  if (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5) return EINVAL;
  if ((dcb.Flags & (DCB_OUTX_DSR_FLOW | DCB_DSR_SENSITIVITY)) || dtr == DCB_DTR_CONTROL_HANDSHAKE ||
      dtr == DCB_DTR_CONTROL_MASK || rts == DCB_RTS_CONTROL_TOGGLE)
    return EINVAL;

  tty = TtySettings{};
  static constexpr std::uint32_t kSizes[] = {CS5, CS6, CS7, CS8};
  tty.cflag = CREAD | CLOCAL | kSizes[dcb.ByteSize - 5] | BOTHER | (BOTHER << IBSHIFT);
  if (dcb.StopBits != ONESTOPBIT) tty.cflag |= CSTOPB;
  switch (dcb.Parity) {
    case ODDPARITY:
      tty.cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      tty.cflag |= PARENB;
      break;
    case MARKPARITY:
      tty.cflag |= PARENB | CMSPAR | PARODD;
      break;
    case SPACEPARITY:
      tty.cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  // The terminal layer couples both directions of hardware flow control.
  if ((dcb.Flags & DCB_OUTX_CTS_FLOW) || rts == DCB_RTS_CONTROL_HANDSHAKE) tty.cflag |= CRTSCTS;
  tty.ispeed = tty.ospeed = dcb.BaudRate;

  // Breaks are counted, not queued as zero bytes. Without error replacement a byte with a
  // parity error is queued as received; with it, the kernel marks the byte for the filter.
  tty.iflag = IGNBRK;
  if ((dcb.Flags & DCB_PARITY) && (dcb.Flags & DCB_ERROR_CHAR)) tty.iflag |= INPCK | PARMRK;
  if (dcb.Flags & DCB_OUTX) tty.iflag |= IXON;
  if (dcb.Flags & DCB_INX) tty.iflag |= IXOFF;
  tty.vstart = static_cast<std::uint8_t>(dcb.XonChar);
  tty.vstop = static_cast<std::uint8_t>(dcb.XoffChar);
  return 0;
}

void TtyToDcb(const TtySettings& tty, CommDcb& dcb) {
  if ((tty.cflag & CBAUD) == BOTHER) {
    dcb.BaudRate = tty.ospeed;
  } else {
    for (const auto& r : kStandardRates)
      if ((tty.cflag & CBAUD) == r.code) dcb.BaudRate = r.rate;
  }
  switch (tty.cflag & CSIZE) {
    case CS5:
      dcb.ByteSize = 5;
      break;
    case CS6:
      dcb.ByteSize = 6;
      break;
    case CS7:
      dcb.ByteSize = 7;
      break;
    default:
      dcb.ByteSize = 8;
      break;
  }
  if (tty.cflag & CSTOPB)
    dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  else
    dcb.StopBits = ONESTOPBIT;
  if (!(tty.cflag & PARENB))
    dcb.Parity = NOPARITY;
  else if (tty.cflag & CMSPAR)
    dcb.Parity = (tty.cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  else
    dcb.Parity = (tty.cflag & PARODD) ? ODDPARITY : EVENPARITY;
  dcb.Flags &= ~(DCB_OUTX_CTS_FLOW | DCB_RTS_CONTROL_MASK | DCB_OUTX | DCB_INX);
  if (tty.cflag & CRTSCTS) dcb.Flags |= DCB_OUTX_CTS_FLOW | DCB_RTS_CONTROL_HANDSHAKE;
  if (tty.iflag & IXON) dcb.Flags |= DCB_OUTX;
  if (tty.iflag & IXOFF) dcb.Flags |= DCB_INX;
  dcb.XonChar = static_cast<char>(tty.vstart);
  dcb.XoffChar = static_cast<char>(tty.vstop);
}

std::uint32_t RunningRate(std::uint32_t requested, std::uint32_t baud_base,
                          std::uint32_t read_back) {
  if (baud_base == 0 || requested == 0) return read_back;
  const std::uint64_t divisor =
      std::max<std::uint64_t>((std::uint64_t{baud_base} + requested / 2) / requested, 1);
  return static_cast<std::uint32_t>(baud_base / divisor);
}

namespace {
bool WithinTolerance(std::uint32_t rate, std::uint32_t requested) {
  const std::uint64_t diff = rate > requested ? rate - requested : requested - rate;
  return diff * 50 <= requested;
}
}  // namespace

bool LineTaken(const TtySettings& wanted, const TtySettings& got, std::uint32_t baud_base) {
  constexpr std::uint32_t kFrame = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR;
  if ((wanted.cflag & kFrame) != (got.cflag & kFrame)) return false;
  CommDcb read_back;
  TtyToDcb(got, read_back);
  const std::uint32_t requested = wanted.ospeed;
  return WithinTolerance(read_back.BaudRate, requested) &&
         WithinTolerance(RunningRate(requested, baud_base, read_back.BaudRate), requested);
}

// ---------------------------------------------------------------------------------------
// Received-byte filter

void TtyInputFilter::Configure(bool marks, char error_char, bool strip_nulls) {
  marks_ = marks;
  error_char_ = error_char;
  strip_nulls_ = strip_nulls;
  state_ = State::Plain;
}

void TtyInputFilter::Put(char c, std::string& out) const {
  if (c == '\0' && strip_nulls_) return;
  out.push_back(c);
}

void TtyInputFilter::Decode(const char* raw, std::size_t size, std::string& out) {
  for (std::size_t i = 0; i < size; ++i) {
    const char c = raw[i];
    switch (state_) {
      case State::Plain:
        if (marks_ && c == '\xFF')
          state_ = State::Mark;
        else
          Put(c, out);
        break;
      case State::Mark:
        if (c == '\0') {
          state_ = State::MarkZero;
        } else {
          // 0xFF 0xFF is a received 0xFF; anything else cannot follow a mark, keep it.
          if (c != '\xFF') Put('\xFF', out);
          Put(c, out);
          state_ = State::Plain;
        }
        break;
      case State::MarkZero:
        Put(error_char_, out);
        state_ = State::Plain;
        break;
    }
  }
}

// ---------------------------------------------------------------------------------------
// The port

namespace {

class LinuxCommPort final : public CommPort {
 public:
  LinuxCommPort(int fd, int wake_fd, bool modem_lines, bool counters, const CommDcb& dcb)
      : fd_(fd),
        wake_fd_(wake_fd),
        modem_lines_(modem_lines),
        counters_(counters),
        pty_(IsPtySlave(fd)),
        dcb_(dcb) {
    if (counters_) ioctl(fd_, TIOCGICOUNT, &icount_);
    if (modem_lines_) {
      int tiocm = 0;
      if (ioctl(fd_, TIOCMGET, &tiocm) == 0) last_modem_ = ModemBits(tiocm);
    }
    icount_seen_lines_ = icount_;
    last_query_ms_ = last_tiocm_ms_ = MonotonicMs();
  }

  ~LinuxCommPort() override {
    if (fd_ >= 0) {
      ioctl(fd_, TIOCNXCL);
      close(fd_);
    }
    close(wake_fd_);
  }

  std::uint32_t SetupComm(std::uint32_t in_queue, std::uint32_t /*out_queue*/) override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    // The kernel keeps its own buffer behind ours, so a tiny queue only slows reading.
    input_cap_ = std::max<std::size_t>(in_queue, 64);
    return 0;
  }

  std::uint32_t GetCommState(CommDcb& dcb) override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    if (gone_) return gone_error_;
    termios2 t{};
    if (ioctl(fd_, TCGETS2, &t) != 0) return DeviceError();
    dcb = dcb_;
    TtyToDcb(TtySettings{t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_ispeed, t.c_ospeed,
                         t.c_cc[VSTART], t.c_cc[VSTOP]},
             dcb);
    return 0;
  }

  std::uint32_t SetCommState(const CommDcb& dcb) override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    if (gone_) return gone_error_;
    TtySettings tty;
    if (const std::uint32_t error = DcbToTty(dcb, tty)) return error;
    termios2 t{};
    if (ioctl(fd_, TCGETS2, &t) != 0) return DeviceError();
    t.c_iflag = tty.iflag;
    t.c_oflag = tty.oflag;
    t.c_cflag = tty.cflag;
    t.c_lflag = tty.lflag;
    t.c_ispeed = tty.ispeed;
    t.c_ospeed = tty.ospeed;
    t.c_cc[VSTART] = tty.vstart;
    t.c_cc[VSTOP] = tty.vstop;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (ioctl(fd_, TCSETS2, &t) != 0) return DeviceError();
    dcb_ = dcb;
    filter_.Configure((t.c_iflag & PARMRK) != 0, dcb.ErrorChar, (dcb.Flags & DCB_NULL) != 0);
    hardware_flow_ = (t.c_cflag & CRTSCTS) != 0;
    bits_per_char_ = 1u + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1u : 0u) +
                     (dcb.StopBits == ONESTOPBIT ? 1u : 2u);
    // TCSETS2 succeeds when the driver took any part of the change. A pseudo-terminal
    // keeps whatever it is given and carries none of it out: nothing to compare there.
    if (pty_) return 0;
    termios2 back{};
    if (ioctl(fd_, TCGETS2, &back) != 0) return DeviceError();
    serial_struct serial{};
    const std::uint32_t baud_base = ioctl(fd_, TIOCGSERIAL, &serial) == 0 && serial.baud_base > 0
                                        ? static_cast<std::uint32_t>(serial.baud_base)
                                        : 0;
    const TtySettings got{back.c_iflag,  back.c_oflag,  back.c_cflag,      back.c_lflag,
                          back.c_ispeed, back.c_ospeed, back.c_cc[VSTART], back.c_cc[VSTOP]};
    if (!LineTaken(tty, got, baud_base)) {
      // The line runs as the driver set it; the drain estimates follow that.
      TtyToDcb(got, dcb_);
      dcb_.BaudRate = RunningRate(dcb.BaudRate, baud_base, dcb_.BaudRate);
      return EINVAL;
    }
    return 0;
  }

  std::uint32_t GetCommTimeouts(CommTimeouts& timeouts) override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    timeouts = timeouts_;
    return 0;
  }

  // Reads never wait (the descriptor is non-blocking) and a write that has not drained
  // stays outstanding until the worker gives it up, so the timeouts are kept for the
  // record only.
  std::uint32_t SetCommTimeouts(const CommTimeouts& timeouts) override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    timeouts_ = timeouts;
    return 0;
  }

  std::uint32_t SetCommMask(std::uint32_t mask) override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    mask_ = mask;
    history_ = 0;
    if (status_waiting_) CompleteStatusWait(0);
    Wake();
    return 0;
  }

  std::uint32_t WaitCommEvent(std::uint32_t& mask) override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    if (status_waiting_ || status_done_) return EBUSY;
    Check();
    // With no events selected (the port is being closed) a wait would never end.
    if (mask_ == 0 || history_ != 0) {
      mask = history_;
      history_ = 0;
      return 0;
    }
    status_waiting_ = true;
    return kErrorIoPending;
  }

  std::uint32_t ReadFile(void* buffer, std::uint32_t size, std::uint32_t& read) override {
    std::lock_guard lock(mutex_);
    read = 0;
    if (closed_) return EBADF;
    // A read takes all it asks for, also what lies in the kernel beyond the queue's size.
    Drain(std::max<std::size_t>(input_cap_, size));
    if (input_.empty() && input_error_ != 0) return std::exchange(input_error_, 0);
    const std::size_t n = std::min<std::size_t>(size, input_.size());
    std::memcpy(buffer, input_.data(), n);
    input_.erase(0, n);
    read = static_cast<std::uint32_t>(n);
    return 0;
  }

  std::uint32_t WriteFile(const void* data, std::uint32_t size, std::uint32_t& written) override {
    std::lock_guard lock(mutex_);
    written = 0;
    if (closed_) return EBADF;
    if (gone_) return gone_error_;
    if (write_ == WriteState::Pending) return EBUSY;
    write_ = WriteState::None;
    tx_.assign(static_cast<const char*>(data), size);
    tx_done_ = 0;
    write_announced_ = false;
    write_ = WriteState::Pending;
    Push();
    if (write_ == WriteState::Failed) {
      write_ = WriteState::None;
      tx_.clear();
      return write_error_;
    }
    Wake();  // a waiting worker sees the write (or its end) at once
    if (write_ == WriteState::Done) {
      write_ = WriteState::None;
      written = tx_done_;
      return 0;
    }
    return kErrorIoPending;
  }

  std::uint32_t GetOverlappedResult(CommSlot slot, std::uint32_t& transferred) override {
    std::lock_guard lock(mutex_);
    transferred = 0;
    switch (slot) {
      case CommSlot::Write:
        transferred = tx_done_;
        switch (write_) {
          case WriteState::None:
            return 0;
          case WriteState::Pending:
            if (!closed_) Push();
            transferred = tx_done_;
            if (write_ == WriteState::Pending) return kErrorIoPending;
            return GetOverlappedResultLocked(transferred);
          default:
            return GetOverlappedResultLocked(transferred);
        }
      case CommSlot::Read:
        return 0;  // reads never stay outstanding
      case CommSlot::Status:
        if (status_done_) {
          status_done_ = false;
          transferred = status_result_;
          return 0;
        }
        if (status_waiting_) {
          if (!closed_) Check();
          if (status_done_) {
            status_done_ = false;
            transferred = status_result_;
            return 0;
          }
          return kErrorIoIncomplete;
        }
        return 0;
    }
    return 0;
  }

  std::uint32_t ResetOverlapped(CommSlot slot) override {
    std::lock_guard lock(mutex_);
    switch (slot) {
      case CommSlot::Write:
        write_ = WriteState::None;
        tx_.clear();
        write_announced_ = false;
        break;
      case CommSlot::Status:
        status_waiting_ = false;
        status_done_ = false;
        break;
      case CommSlot::Read:
        break;
    }
    return 0;
  }

  std::uint32_t WaitForSlots(std::initializer_list<CommSlot> slots,
                             std::uint32_t timeout_ms) override {
    std::unique_lock lock(mutex_);
    const std::int64_t deadline = MonotonicMs() + timeout_ms;
    for (;;) {
      if (!closed_) Check();
      std::uint32_t index = 0;
      for (CommSlot slot : slots) {
        if (Signalled(slot)) return index;
        ++index;
      }
      if (write_ != WriteState::None && write_ != WriteState::Pending && !write_announced_) {
        write_announced_ = true;
        return kWaitTimeout;
      }
      if (closed_) return kWaitTimeout;
      const std::int64_t remaining = deadline - MonotonicMs();
      if (remaining <= 0) return kWaitTimeout;

      int timeout = static_cast<int>(remaining);
      // Output draining is not a poll() condition; look again when it should be done.
      if (!gone_ && tx_.empty() && (tx_active_ || write_ == WriteState::Pending)) {
        timeout = static_cast<int>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(timeout), drain_recheck_ms_));
      }
      pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {fd_, 0, 0}};
      if (!gone_ && input_.size() < input_cap_) fds[1].events |= POLLIN;
      if (!gone_ && write_ == WriteState::Pending && !tx_.empty()) fds[1].events |= POLLOUT;
      const nfds_t count = fds[1].events ? 2 : 1;
      ++polling_;
      lock.unlock();
      const int r = poll(fds, count, timeout);
      const int poll_error = errno;
      lock.lock();
      if (--polling_ == 0 && closed_) idle_.notify_all();
      if (r < 0 && poll_error != EINTR) return kWaitFailed;
      if (r > 0 && (fds[0].revents & POLLIN)) {
        std::uint64_t value;
        [[maybe_unused]] ssize_t ignored = ::read(wake_fd_, &value, sizeof value);
      }
      if (r > 0 && count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
        // What arrived before the hang-up is still taken; then the device is given up.
        Drain(input_cap_);
        MarkGone(EIO);
      }
    }
  }

  // A failed poll leaves the caller's last values as they were.
  std::uint32_t ClearCommError(std::uint32_t& errors, CommStat& stat) override {
    std::unique_lock lock(mutex_);
    if (closed_) return EBADF;
    if (const std::uint32_t error = QueryLine(lock)) return error;
    if (closed_) return EBADF;
    if (const std::uint32_t error = Check()) return error;
    if (gone_) return gone_error_;
    int in_kernel = 0;
    int out_kernel = 0;
    if (ioctl(fd_, FIONREAD, &in_kernel) != 0) return DeviceError();
    if (ioctl(fd_, TIOCOUTQ, &out_kernel) != 0) return DeviceError();
    errors = std::exchange(errors_, 0);
    stat = CommStat{};
    stat.cbInQue = static_cast<std::uint32_t>(input_.size() + static_cast<std::size_t>(in_kernel));
    stat.cbOutQue = static_cast<std::uint32_t>(tx_.size() + static_cast<std::size_t>(out_kernel));
    if (hardware_flow_ && modem_lines_ && !(last_modem_ & MS_CTS_ON)) stat.Flags |= fCtsHold;
    return 0;
  }

  std::uint32_t GetCommModemStatus(std::uint32_t& status) override {
    std::unique_lock lock(mutex_);
    if (closed_) return EBADF;
    if (!modem_lines_) {
      status = kEmulatedModemStatus;
      return 0;
    }
    if (const std::uint32_t error = QueryLine(lock)) return error;
    if (closed_) return EBADF;
    status = last_modem_;
    return 0;
  }

  std::uint32_t EscapeCommFunction(std::uint32_t function) override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    // The lines of a device that has gone are down already.
    if (gone_) return function == CLRDTR || function == CLRRTS ? 0 : gone_error_;
    int bits = 0;
    unsigned long request = 0;
    switch (function) {
      case SETRTS:
        bits = TIOCM_RTS;
        request = TIOCMBIS;
        break;
      case CLRRTS:
        bits = TIOCM_RTS;
        request = TIOCMBIC;
        break;
      case SETDTR:
        bits = TIOCM_DTR;
        request = TIOCMBIS;
        break;
      case CLRDTR:
        bits = TIOCM_DTR;
        request = TIOCMBIC;
        break;
      case SETXOFF:
        return ioctl(fd_, TCXONC, TCOOFF) == 0 ? 0 : DeviceError();
      case SETXON:
        return ioctl(fd_, TCXONC, TCOON) == 0 ? 0 : DeviceError();
      case SETBREAK:
        return Break(true);
      case CLRBREAK:
        return Break(false);
      default:
        return EINVAL;
    }
    if (!modem_lines_) return 0;
    return ioctl(fd_, request, &bits) == 0 ? 0 : DeviceError();
  }

  std::uint32_t SetCommBreak() override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    if (gone_) return gone_error_;
    return Break(true);
  }

  std::uint32_t ClearCommBreak() override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    if (gone_) return gone_error_;
    return Break(false);
  }

  std::uint32_t PurgeComm(std::uint32_t flags) override {
    std::lock_guard lock(mutex_);
    if (closed_) return EBADF;
    if ((flags & PURGE_TXABORT) && write_ == WriteState::Pending) {
      write_ = WriteState::Aborted;
      tx_.clear();
      Wake();
    }
    if (flags & PURGE_RXCLEAR) {
      input_.clear();
      filter_.Reset();
    }
    // Nothing is left to purge on a device that has gone.
    if (gone_) return 0;
    if (flags & PURGE_TXCLEAR) {
      int out_kernel = 0;
      if (ioctl(fd_, TIOCOUTQ, &out_kernel) != 0) return DeviceError();
      // An empty output queue has nothing to discard; flushing it anyway would throw away
      // what a pseudo-terminal's other side has not read yet.
      if (out_kernel != 0) {
        if (ioctl(fd_, TCFLSH, TCOFLUSH) != 0) return DeviceError();
      } else {
        AwaitFifo();
      }
    }
    if (flags & PURGE_RXCLEAR) {
      if (ioctl(fd_, TCFLSH, TCIFLUSH) != 0) return DeviceError();
    }
    return 0;
  }

  std::uint32_t CloseHandle() override {
    std::unique_lock lock(mutex_);
    if (closed_) return EBADF;
    closed_ = true;
    if (status_waiting_) CompleteStatusWait(0);
    if (write_ == WriteState::Pending) {
      write_ = WriteState::Aborted;
      tx_.clear();
    }
    Wake();
    // A wait sleeping in poll() (or a line query) returns at once; only then may the
    // descriptor go.
    idle_.wait(lock, [&] { return polling_ == 0; });
    if (!gone_) ioctl(fd_, TIOCNXCL);
    const int r = close(fd_);
    fd_ = -1;
    // Closing a device that has gone has nothing left to fail on.
    return r == 0 || gone_ ? 0 : Errno();
  }

 private:
  enum class WriteState { None, Pending, Done, Aborted, Failed };

  std::uint32_t Baud() const { return dcb_.BaudRate; }

  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
  }

  // The error of a failed device call; an error that says the device has gone gives it up.
  std::uint32_t DeviceError() {
    const int error = errno;
    if (Vanished(error)) MarkGone(error);
    return static_cast<std::uint32_t>(error);
  }

  void MarkGone(int error) {
    if (gone_) return;
    gone_ = true;
    gone_error_ = static_cast<std::uint32_t>(error);
    if (write_ == WriteState::Pending) FailWrite(gone_error_);
    tx_active_ = false;
  }

  bool Signalled(CommSlot slot) const {
    switch (slot) {
      case CommSlot::Status:
        return status_done_;
      case CommSlot::Write:
        return write_ != WriteState::None && write_ != WriteState::Pending;
      case CommSlot::Read:
        return false;
    }
    return false;
  }

  void CompleteStatusWait(std::uint32_t mask) {
    status_waiting_ = false;
    status_done_ = true;
    status_result_ = mask;
  }

  std::uint32_t GetOverlappedResultLocked(std::uint32_t& transferred) {
    transferred = tx_done_;
    const WriteState state = write_;
    write_ = WriteState::None;
    switch (state) {
      case WriteState::Aborted:
        return kErrorOperationAborted;
      case WriteState::Failed:
        return write_error_;
      default:
        return 0;
    }
  }

  void FailWrite(std::uint32_t error) {
    write_ = WriteState::Failed;
    write_error_ = error;
    tx_.clear();
  }

  // Hands as much of the outstanding write to the kernel as it takes now; the write is
  // done once all of it has also left the kernel's output queue.
  void Push() {
    if (write_ != WriteState::Pending) return;
    if (gone_) return FailWrite(gone_error_);
    while (!tx_.empty()) {
      const ssize_t n = ::write(fd_, tx_.data(), tx_.size());
      if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) break;
        return FailWrite(DeviceError());
      }
      if (n == 0) break;
      tx_.erase(0, static_cast<std::size_t>(n));
      tx_done_ += static_cast<std::uint32_t>(n);
      tx_active_ = true;
    }
    if (!tx_.empty()) return;
    if (const std::uint32_t error = LookAtOutput()) return FailWrite(error);
    if (!tx_active_) write_ = WriteState::Done;
  }

  // Reads the kernel's output queue: notes when it has drained (EV_TXEMPTY) and when to
  // look again, later and later while the output does not move (held by flow control).
  std::uint32_t LookAtOutput() {
    if (!tx_active_) return 0;
    int out_kernel = 0;
    if (ioctl(fd_, TIOCOUTQ, &out_kernel) != 0) return DeviceError();
    const auto queued = static_cast<std::uint32_t>(out_kernel);
    if (queued == 0) {
      tx_active_ = false;
      tx_outq_ = 0;
      drained_at_ms_ = MonotonicMs();
      Record(EV_TXEMPTY);
      return 0;
    }
    if (queued == tx_outq_) {
      drain_recheck_ms_ = std::min(drain_recheck_ms_ * 2, kDrainRecheckMaxMs);
    } else {
      const std::uint64_t rate = std::max<std::uint32_t>(Baud(), 1);
      drain_recheck_ms_ = std::min<std::uint64_t>(
          std::uint64_t{queued} * bits_per_char_ * 1000 / rate + 1, kDrainRecheckMaxMs);
    }
    tx_outq_ = queued;
    return 0;
  }

  // The transmitter FIFO still sends for a while after the output queue has drained:
  // a purge right after the drain waits for it (not on a pseudo-terminal, which has none).
  void AwaitFifo() {
    if (pty_ || drained_at_ms_ == 0) return;
    const std::uint64_t rate = std::max<std::uint32_t>(Baud(), 1);
    const auto fifo_ms = static_cast<std::int64_t>(kFifoChars * bits_per_char_ * 1000 / rate + 1);
    const std::int64_t left = std::min(drained_at_ms_ + fifo_ms - MonotonicMs(), kFifoWaitMaxMs);
    if (left <= 0) return;
    timespec pause{0, static_cast<long>(left) * 1000000};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
  }

  std::uint32_t Break(bool on) {
    if (ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0) return 0;
    if (!modem_lines_ && Unsupported(errno)) return 0;
    return DeviceError();
  }

  void Record(std::uint32_t events) { history_ |= events & mask_; }

  // Moves what the kernel holds into the queue, until the queue holds `limit` bytes.
  void Drain(std::size_t limit) {
    if (gone_) return;
    char raw[4096];
    while (input_.size() < limit) {
      const std::size_t want = std::min(sizeof raw, limit - input_.size());
      const ssize_t n = ::read(fd_, raw, want);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
          const std::uint32_t error = DeviceError();
          // A device that has gone is reported once, by the status poll.
          if (!gone_) input_error_ = error;
        }
        return;
      }
      if (n == 0) return;
      const std::size_t before = input_.size();
      filter_.Decode(raw, static_cast<std::size_t>(n), input_);
      if (input_.size() > before) {
        std::uint32_t events = EV_RXCHAR;
        if (input_.find(dcb_.EvtChar, before) != std::string::npos) events |= EV_RXFLAG;
        Record(events);
      }
    }
  }

  // Asks the device for its counters and, when they show a line change (or the lines were
  // not read for a while), its modem lines: at most once per kLineQueryMs, and with the
  // mutex released, since on an adapter each request takes a millisecond. Returns the
  // error of a failed request.
  std::uint32_t QueryLine(std::unique_lock<std::mutex>& lock) {
    if (gone_) return gone_error_;
    if ((!counters_ && !modem_lines_) || querying_) return 0;
    const std::int64_t now = MonotonicMs();
    if (now - last_query_ms_ < kLineQueryMs) return 0;
    last_query_ms_ = now;
    querying_ = true;
    ++polling_;
    const int fd = fd_;
    serial_icounter_struct icount = icount_;
    int icount_error = 0;
    lock.unlock();
    if (counters_ && ioctl(fd, TIOCGICOUNT, &icount) != 0) icount_error = errno;
    lock.lock();
    std::uint32_t error = 0;
    if (icount_error != 0) {
      errno = icount_error;
      error = DeviceError();
    } else if (counters_) {
      TakeCounters(icount);
    }
    const bool lines_changed =
        icount.cts != icount_seen_lines_.cts || icount.dsr != icount_seen_lines_.dsr ||
        icount.rng != icount_seen_lines_.rng || icount.dcd != icount_seen_lines_.dcd;
    const bool ask_lines = error == 0 && !closed_ && modem_lines_ &&
                           (!counters_ || lines_changed || now - last_tiocm_ms_ >= kModemRefreshMs);
    if (ask_lines) {
      last_tiocm_ms_ = now;
      icount_seen_lines_ = icount;
      int tiocm = 0;
      lock.unlock();
      const int r = ioctl(fd, TIOCMGET, &tiocm);
      const int tiocm_error = errno;
      lock.lock();
      if (r != 0) {
        errno = tiocm_error;
        error = DeviceError();
      } else {
        TakeModemLines(ModemBits(tiocm));
      }
    }
    querying_ = false;
    if (--polling_ == 0 && closed_) idle_.notify_all();
    if (!closed_ && status_waiting_ && history_ != 0) {
      CompleteStatusWait(history_);
      history_ = 0;
    }
    return error;
  }

  void TakeCounters(const serial_icounter_struct& now) {
    std::uint32_t events = 0;
    if (now.frame != icount_.frame) errors_ |= CE_FRAME;
    if (now.overrun != icount_.overrun || now.buf_overrun != icount_.buf_overrun)
      errors_ |= CE_OVERRUN;
    if (now.parity != icount_.parity) errors_ |= CE_RXPARITY;
    if (now.brk != icount_.brk) {
      errors_ |= CE_BREAK;
      events |= EV_BREAK;
    }
    if (now.frame != icount_.frame || now.overrun != icount_.overrun ||
        now.buf_overrun != icount_.buf_overrun || now.parity != icount_.parity)
      events |= EV_ERR;
    if (now.cts != icount_.cts) events |= EV_CTS;
    if (now.dsr != icount_.dsr) events |= EV_DSR;
    if (now.rng != icount_.rng) events |= EV_RING;
    if (now.dcd != icount_.dcd) events |= EV_RLSD;
    icount_ = now;
    Record(events);
  }

  void TakeModemLines(std::uint32_t now) {
    const std::uint32_t changed = now ^ last_modem_;
    std::uint32_t events = 0;
    if (changed & MS_CTS_ON) events |= EV_CTS;
    if (changed & MS_DSR_ON) events |= EV_DSR;
    if (changed & MS_RING_ON) events |= EV_RING;
    if (changed & MS_RLSD_ON) events |= EV_RLSD;
    last_modem_ = now;
    Record(events);
  }

  // Brings the queue, the event state and the outstanding write up to date from what the
  // kernel knows; asks the device nothing. Returns the error of a failed read, if any.
  std::uint32_t Check() {
    std::uint32_t error = 0;
    Drain(input_cap_);
    if (input_error_ != 0 && input_.empty()) error = std::exchange(input_error_, 0);
    if (!gone_) {
      if (write_ == WriteState::Pending)
        Push();
      else if (const std::uint32_t output_error = LookAtOutput(); error == 0)
        error = output_error;
    }
    if (status_waiting_ && history_ != 0) {
      CompleteStatusWait(history_);
      history_ = 0;
    }
    return error;
  }

  std::mutex mutex_;
  std::condition_variable idle_;  // CloseHandle waits here for sleeping waits to return
  int fd_;
  const int wake_fd_;
  const bool modem_lines_;
  const bool counters_;
  const bool pty_;
  bool closed_ = false;
  // The device has gone; `gone_error_` is what every further request of it would give.
  bool gone_ = false;
  std::uint32_t gone_error_ = 0;
  int polling_ = 0;

  CommDcb dcb_;
  CommTimeouts timeouts_;
  bool hardware_flow_ = false;
  std::uint32_t bits_per_char_ = 10;

  std::string input_;
  std::size_t input_cap_ = 4096;
  std::uint32_t input_error_ = 0;
  TtyInputFilter filter_;

  std::uint32_t mask_ = 0;
  std::uint32_t history_ = 0;
  std::uint32_t errors_ = 0;
  bool status_waiting_ = false;
  bool status_done_ = false;
  std::uint32_t status_result_ = 0;
  serial_icounter_struct icount_{};
  // The counters when the modem lines were last read.
  serial_icounter_struct icount_seen_lines_{};
  std::uint32_t last_modem_ = kEmulatedModemStatus;
  bool querying_ = false;
  std::int64_t last_query_ms_ = 0;
  std::int64_t last_tiocm_ms_ = 0;

  WriteState write_ = WriteState::None;
  std::string tx_;
  std::uint32_t tx_done_ = 0;
  std::uint32_t write_error_ = 0;
  bool write_announced_ = false;
  // Bytes handed to the kernel have not all left yet.
  bool tx_active_ = false;
  std::uint32_t tx_outq_ = 0;
  std::uint64_t drain_recheck_ms_ = 1;
  std::int64_t drained_at_ms_ = 0;
};

// Probes an ioctl: false only when the device does not implement it.
template <class T>
bool Supports(int fd, unsigned long request, T* arg) {
  return ioctl(fd, request, arg) == 0 || !Unsupported(errno);
}

class LinuxCommPortFactory final : public CommPortFactory {
 public:
  std::shared_ptr<CommPort> Open(const std::string& path, std::uint32_t& error) override {
    error = 0;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return Fail(error, Errno());
    // Only character devices are opened at all: opening other files can block or have
    // side effects, and none of them is a serial line.
    if (S_ISDIR(st.st_mode)) return Fail(error, EISDIR);
    if (!S_ISCHR(st.st_mode)) return Fail(error, ENOTTY);

    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(error, Errno());
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return Fail(error, ENOTTY, fd);
    // TIOCEXCL keeps other users out, but not root; the lock keeps out every program that
    // opens ports this way, root included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
      return Fail(error, errno == EWOULDBLOCK ? EBUSY : Errno(), fd);
    if (ioctl(fd, TIOCEXCL) != 0) return Fail(error, Errno(), fd);
    const int wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd < 0) {
      const std::uint32_t e = Errno();
      ioctl(fd, TIOCNXCL);
      return Fail(error, e, fd);
    }
    int tiocm = 0;
    serial_icounter_struct icount{};
    const bool modem_lines = Supports(fd, TIOCMGET, &tiocm);
    const bool counters = Supports(fd, TIOCGICOUNT, &icount);
    CommDcb dcb;
    TtyToDcb(TtySettings{t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag, t.c_ispeed, t.c_ospeed,
                         t.c_cc[VSTART], t.c_cc[VSTOP]},
             dcb);
    return std::make_shared<LinuxCommPort>(fd, wake_fd, modem_lines, counters, dcb);
  }

 private:
  static std::shared_ptr<CommPort> Fail(std::uint32_t& error, std::uint32_t code, int fd = -1) {
    if (fd >= 0) close(fd);
    error = code;
    return nullptr;
  }
};

}  // namespace

CommPortFactory& SystemCommPorts() {
  static LinuxCommPortFactory factory;
  return factory;
}

std::string DevicePath(const std::string& name) {
  const std::string cut = name.substr(0, 75);
  return !cut.empty() && cut.front() == '/' ? cut : "/dev/" + cut;
}

}  // namespace platform

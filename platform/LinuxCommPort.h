// The Linux comm port's factory with its lock folder, and the pieces of the port that are
// pure functions of their input, declared here so that they can be tested without a device:
// the translation of the line description into terminal settings, and the filter that
// received bytes pass before they are queued.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/CommPort.h"

namespace platform {

// Terminals as SystemCommPorts() opens them, with the UUCP lock files kept in `lock_dir`
// (none at all when it is empty); the system's ports use /run/lock.
std::unique_ptr<CommPortFactory> MakeLinuxCommPorts(const std::string& lock_dir);

// The fields of the kernel's termios2 record that the line description decides. The flag
// words use the kernel's bit values.
struct TtySettings {
  std::uint32_t iflag = 0;
  std::uint32_t oflag = 0;
  std::uint32_t cflag = 0;
  std::uint32_t lflag = 0;
  std::uint32_t ispeed = 0;
  std::uint32_t ospeed = 0;
  std::uint8_t vstart = 0;
  std::uint8_t vstop = 0;
};

// Raw 8-bit line with the DCB's speed (any rate, as a custom speed), size, parity (mark and
// space too), stop bits and flow control. Returns EINVAL for what the terminal layer cannot
// do, as a serial driver refuses a line description it cannot carry out: 4 data bits, 1.5
// stop bits other than with 5 data bits, 2 stop bits with 5 data bits, DSR/DTR handshake,
// DSR sensitivity, RTS toggling, rate 0.
std::uint32_t DcbToTty(const CommDcb& dcb, TtySettings& tty);

// The line description a terminal's settings stand for (speed, size, parity, stop bits and
// flow control; the fields the terminal does not know stay as they are in `dcb`).
void TtyToDcb(const TtySettings& tty, CommDcb& dcb);

// What the driver does to received bytes before queueing them: undoes the kernel's marking
// of bytes received with a parity or framing error (0xFF 0x00 c; a real 0xFF arrives as
// 0xFF 0xFF), replacing such a byte by the error character, and drops zero bytes when asked.
// A mark split across two reads is completed by the next one.
class TtyInputFilter {
 public:
  void Configure(bool marks, char error_char, bool strip_nulls);
  void Reset() { state_ = State::Plain; }
  // Appends the decoded bytes to `out`.
  void Decode(const char* raw, std::size_t size, std::string& out);

 private:
  enum class State { Plain, Mark, MarkZero };
  void Put(char c, std::string& out) const;
  bool marks_ = false;
  char error_char_ = 0;
  bool strip_nulls_ = false;
  State state_ = State::Plain;
};

}  // namespace platform

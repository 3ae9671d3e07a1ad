// Pieces of the Linux comm port that are pure functions of their input, declared here so
// that they can be tested without a device: the translation of the line description into
// terminal settings, and the filter that received bytes pass before they are queued.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/CommPort.h"

namespace platform {

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

// The rate a line really runs at when `requested` was asked for: with a base clock (the
// driver's baud_base, as a UART has) the base divided by the nearest whole divisor, which
// read-back alone does not show (an 8250 runs 56000 as 57600); without one, the rate the
// driver reports back.
std::uint32_t RunningRate(std::uint32_t requested, std::uint32_t baud_base,
                          std::uint32_t read_back);

// Whether the driver took what was asked: size, parity and stop bits as requested and the
// rate within 2% (the tolerance of an asynchronous line), judged by the read-back settings
// and, where there is one, the base clock.
bool LineTaken(const TtySettings& wanted, const TtySettings& got, std::uint32_t baud_base);

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

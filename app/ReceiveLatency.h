// What a port's driver makes the flasher wait before it passes on a lone received byte:
// the receive trigger of an 8250 UART's FIFO (a lone byte waits for the FIFO's time-out of
// four character times unless the trigger is 1 byte) or the latency timer of an FTDI USB
// adapter (a lone byte waits up to that many milliseconds). Every block costs two such
// waits, for the device's DLE to the STX and for its final DLE.
//
// The settings are only read, from sysfs: the flasher never changes them itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "util/ByteString.h"

struct ReceiveLatency {
  enum class Kind { None, UartTrigger, UsbLatencyTimer };
  Kind kind = Kind::None;
  std::string port;  // the device's name below /dev, "ttyS0"
  std::string file;  // the sysfs file the value came from
  unsigned value = 0;

  // What one lone byte is held, in microseconds, on a line at `baud` with 10-bit characters.
  double HoldMicros(std::uint32_t baud) const;
  // Whether a lower value exists (trigger 1 byte, timer 1 ms).
  bool Lowerable() const { return kind != Kind::None && value > 1; }
};

// Reads the setting for `port` (a path or a bare name below /dev) under `sysfs`.
ReceiveLatency ReadReceiveLatency(const std::string& port, const std::string& sysfs = "/sys");

// The traffic log's line about the setting; empty where none is known.
std::string LatencyLogLine(const ReceiveLatency& latency);

// One German line that tells how to lower the setting, where the waits of these blocks
// cost more than a tenth of their line time and a lower value exists; otherwise empty.
std::string LatencyAdvice(const ReceiveLatency& latency, std::uint32_t baud,
                          const std::vector<ByteString>& blocks);

// A pseudo-terminal pair for tests: the component opens the slave's path, the test plays
// the device on the master. The test keeps a slave descriptor of its own open (in raw
// mode), so that the component closing the slave never hangs up the master.
#pragma once

#include <chrono>
#include <string>

#include "platform/LinuxCommPort.h"

namespace serial_test {

class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& Path() const { return path_; }
  int Master() const { return master_; }
  int KeptSlave() const { return slave_; }

  // Writes all of `bytes` to the master (waiting while the line is full).
  void Write(const std::string& bytes);
  // Reads from the master until `count` bytes came or `limit` passed.
  std::string Read(std::size_t count, std::chrono::milliseconds limit);
  // The device goes away: the master closes, which hangs up the slave.
  void CloseMaster();
  // The slave's current terminal settings.
  platform::TtySettings Settings() const;

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace serial_test

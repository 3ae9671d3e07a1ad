// The simulator's pseudo-terminal.
#pragma once

#include <string>

namespace sim {

// The master side (non-blocking) and an open slave side in raw mode. Holding the slave
// open keeps the master alive while the flasher opens and closes the port.
class Pty {
 public:
  Pty() = default;
  ~Pty() { Close(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  bool Open(std::string& error);
  // Uses the existing terminal `path` instead, in raw mode; Master() is then that
  // terminal, and its other side belongs to someone else.
  bool Attach(const std::string& path, std::string& error);
  bool Attached() const { return master_ >= 0 && slave_ < 0; }
  // Closes both sides: the flasher sees the line hang up.
  void Close();

  int Master() const { return master_; }
  // Bytes written to the master that the flasher has not read yet (on an attached
  // terminal: that have not left it yet).
  int Unread() const;
  const std::string& Path() const { return path_; }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

}  // namespace sim

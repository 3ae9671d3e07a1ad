#include "tools/simulator/Pty.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {

bool Pty::Open(std::string& error) {
  auto fail = [&](const char* what) {
    error = std::string(what) + ": " + std::strerror(errno);
    Close();
    return false;
  };
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return fail("cannot create a pseudo-terminal");
  if (grantpt(master_) != 0 || unlockpt(master_) != 0)
    return fail("cannot unlock the pseudo-terminal");
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) return fail("cannot name the pseudo-terminal");
  path_ = name;
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0)
    return fail("cannot make the pseudo-terminal non-blocking");
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) return fail("cannot open the pseudo-terminal's slave side");
  // Raw from the start: no echo, no line editing, no character translation, so that bytes
  // pass unchanged even before the flasher sets its own line settings.
  termios tio{};
  if (tcgetattr(slave_, &tio) != 0) return fail("cannot read the pseudo-terminal's settings");
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  if (tcsetattr(slave_, TCSANOW, &tio) != 0)
    return fail("cannot set the pseudo-terminal to raw mode");
  return true;
}

bool Pty::Attach(const std::string& path, std::string& error) {
  auto fail = [&](const std::string& what) {
    error = what + " " + path + ": " + std::strerror(errno);
    Close();
    return false;
  };
  master_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) return fail("cannot open");
  termios tio{};
  if (tcgetattr(master_, &tio) != 0) return fail("not a terminal:");
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  if (tcsetattr(master_, TCSANOW, &tio) != 0) return fail("cannot set raw mode on");
  path_ = path;
  return true;
}

int Pty::Unread() const {
  int n = 0;
  if (Attached()) return ioctl(master_, TIOCOUTQ, &n) == 0 ? n : 0;
  return slave_ >= 0 && ioctl(slave_, FIONREAD, &n) == 0 ? n : 0;
}

void Pty::Close() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  slave_ = master_ = -1;
}

}  // namespace sim

#include "tests/serial/Pty.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <stdlib.h>

#include <stdexcept>

namespace serial_test {

Pty::Pty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  path_ = ptsname(master_);
  slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
  if (slave_ < 0) throw std::runtime_error("cannot open " + path_);
  termios2 t{};
  ioctl(slave_, TCGETS2, &t);
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = (t.c_cflag & ~CSIZE) | CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ioctl(slave_, TCSETS2, &t);
}

Pty::~Pty() {
  close(slave_);
  if (master_ >= 0) close(master_);
}

void Pty::CloseMaster() {
  close(master_);
  master_ = -1;
}

void Pty::Write(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0) throw std::runtime_error("write to the master failed");
    done += static_cast<std::size_t>(n);
  }
}

std::string Pty::Read(std::size_t count, std::chrono::milliseconds limit) {
  std::string out;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd fd{master_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) break;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
}

platform::TtySettings Pty::Settings() const {
  termios2 t{};
  ioctl(slave_, TCGETS2, &t);
  return {t.c_iflag,  t.c_oflag,  t.c_cflag,      t.c_lflag,
          t.c_ispeed, t.c_ospeed, t.c_cc[VSTART], t.c_cc[VSTOP]};
}

}  // namespace serial_test

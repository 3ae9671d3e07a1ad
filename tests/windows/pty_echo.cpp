// The other side of a line for the Windows comm-port tests under Wine: a pseudo-terminal
// whose master sends back every byte it reads. Prints the slave's path as its first line,
// then echoes until its standard input ends. A slave descriptor is kept open, so that the
// master never sees the line hang up while Wine closes and reopens the port.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

int main() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("pty_echo: pseudo-terminal");
    return 1;
  }
  const char* name = ptsname(master);
  const int slave = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  termios raw{};
  if (slave < 0 || tcgetattr(slave, &raw) != 0) {
    std::perror("pty_echo: slave");
    return 1;
  }
  cfmakeraw(&raw);  // no echo of its own, every byte value passes
  tcsetattr(slave, TCSANOW, &raw);
  std::printf("%s\n", name);
  std::fflush(stdout);
  char buffer[4096];
  for (;;) {
    pollfd fds[2] = {{master, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (fds[1].revents != 0) {
      const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
      if (n <= 0) return 0;
    }
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return 0;
      for (ssize_t done = 0; done < n;) {
        const ssize_t w = write(master, buffer + done, static_cast<std::size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) return 1;
        done += w;
      }
    }
  }
}

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "app/AnswerInput.h"

// A pipe whose reading end becomes readable withdraws the read.
AnswerInput::AnswerInput(int input) : input_(input) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  wake_[0] = fds[0];
  wake_[1] = fds[1];
}

AnswerInput::~AnswerInput() {
  if (wake_[0] >= 0) close(static_cast<int>(wake_[0].load()));
  if (wake_[1] >= 0) close(static_cast<int>(wake_[1].load()));
}

bool AnswerInput::Ok() const {
  return wake_[0] >= 0;
}

std::optional<std::string> AnswerInput::ReadLine() {
  std::string line;
  for (;;) {
    pollfd fds[2] = {{input_, POLLIN, 0}, {static_cast<int>(wake_[0].load()), POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return line;
    }
    if (fds[1].revents != 0) return std::nullopt;
    char c = 0;
    const ssize_t n = read(input_, &c, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0 || c == '\n') return line;
    line += c;
  }
}

void AnswerInput::Withdraw() {
  withdrawn_ = true;
  const char withdraw = 0;
  while (write(static_cast<int>(wake_[1].load()), &withdraw, 1) < 0 && errno == EINTR) {
  }
}

int ConsoleColumns(std::FILE* out) {
  winsize size{};
  if (ioctl(fileno(out), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool PrepareConsole(std::FILE* out) {
  return isatty(fileno(out)) != 0;
}

#include <fcntl.h>
#include <unistd.h>

#include "tests/support/TestPipe.h"

namespace test_support {

TestPipe::TestPipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  read_ = fds[0];
  write_ = fds[1];
}

TestPipe::~TestPipe() {
  if (read_ >= 0) close(read_);
  CloseWriteEnd();
}

bool TestPipe::Write(const std::string& text) {
  return write(write_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void TestPipe::CloseWriteEnd() {
  if (write_ >= 0) close(write_);
  write_ = -1;
}

std::string TestPipe::Unread() {
  fcntl(read_, F_SETFL, O_NONBLOCK);
  std::string rest;
  char c;
  while (read(read_, &c, 1) == 1) rest += c;
  return rest;
}

}  // namespace test_support

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "tests/support/TestPipe.h"

namespace test_support {

TestPipe::TestPipe() {
  int fds[2];
  if (_pipe(fds, 4096, _O_BINARY | _O_NOINHERIT) != 0) return;
  read_ = fds[0];
  write_ = fds[1];
}

TestPipe::~TestPipe() {
  if (read_ >= 0) _close(read_);
  CloseWriteEnd();
}

bool TestPipe::Write(const std::string& text) {
  return _write(write_, text.data(), static_cast<unsigned>(text.size())) ==
         static_cast<int>(text.size());
}

void TestPipe::CloseWriteEnd() {
  if (write_ >= 0) _close(write_);
  write_ = -1;
}

// An anonymous pipe cannot be switched to non-blocking reads: what it holds is asked first.
std::string TestPipe::Unread() {
  const HANDLE pipe = reinterpret_cast<HANDLE>(_get_osfhandle(read_));
  std::string rest;
  DWORD waiting = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
    char c;
    if (_read(read_, &c, 1) != 1) break;
    rest += c;
  }
  return rest;
}

}  // namespace test_support

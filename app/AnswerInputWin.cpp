#include <io.h>
#include <windows.h>

#include "app/AnswerInput.h"

// A blocking read of the console or a pipe cannot wait for a second handle, so a withdrawal
// cancels the reading thread's read (CancelSynchronousIo). The reader looks at the flag
// before each read; a cancel that came just before the read began is repeated until the
// reader has left, within a bound.
namespace {
constexpr int kCancelTries = 50;
constexpr DWORD kCancelPauseMs = 20;

HANDLE AsHandle(std::intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}
}  // namespace

AnswerInput::AnswerInput(int input) : input_(input) {
  // [1]: set when ReadLine() has left; [0]: the reading thread, while it reads.
  if (HANDLE done = CreateEventW(nullptr, TRUE, TRUE, nullptr))
    wake_[1] = reinterpret_cast<std::intptr_t>(done);
}

AnswerInput::~AnswerInput() {
  if (wake_[0] != -1) CloseHandle(AsHandle(wake_[0]));
  if (wake_[1] != -1) CloseHandle(AsHandle(wake_[1]));
}

bool AnswerInput::Ok() const {
  return wake_[1] != -1;
}

std::optional<std::string> AnswerInput::ReadLine() {
  HANDLE thread = nullptr;
  if (wake_[0] != -1) return std::nullopt;  // one read per instance
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread, 0,
                       FALSE, DUPLICATE_SAME_ACCESS))
    return std::nullopt;
  wake_[0] = reinterpret_cast<std::intptr_t>(thread);
  ResetEvent(AsHandle(wake_[1]));
  const HANDLE in = reinterpret_cast<HANDLE>(_get_osfhandle(input_));
  std::optional<std::string> line = std::string();
  for (;;) {
    if (withdrawn_) {
      line.reset();
      break;
    }
    char c = 0;
    DWORD n = 0;
    if (!ReadFile(in, &c, 1, &n, nullptr)) {
      if (GetLastError() == ERROR_OPERATION_ABORTED) continue;  // the flag tells why
      break;
    }
    if (n == 0 || c == '\n') break;
    if (c != '\r') *line += c;
  }
  SetEvent(AsHandle(wake_[1]));
  return line;
}

void AnswerInput::Withdraw() {
  withdrawn_ = true;
  for (int i = 0; i < kCancelTries; ++i) {
    if (WaitForSingleObject(AsHandle(wake_[1]), 0) == WAIT_OBJECT_0) break;
    if (wake_[0] != -1) CancelSynchronousIo(AsHandle(wake_[0]));
    WaitForSingleObject(AsHandle(wake_[1]), kCancelPauseMs);
  }
}

int ConsoleColumns(std::FILE* out) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
  if (!GetConsoleScreenBufferInfo(console, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool PrepareConsole(std::FILE* out) {
  SetConsoleOutputCP(CP_UTF8);  // the texts are UTF-8
  const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
  DWORD mode = 0;
  if (!_isatty(_fileno(out)) || !GetConsoleMode(console, &mode)) return false;
  // The board moves the cursor with escape sequences, which consoles before Windows 10 lack.
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

// The console services of the command-line flasher that differ per platform
// (AnswerInputPosix.cpp, AnswerInputWin.cpp): the version question's answer line, read from
// the terminal beside the main loop (what lets a waiting read be withdrawn differs), and
// the terminal's width and drawing.
//
// Thread safety: ReadLine() on one thread, Withdraw() from another.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

class AnswerInput {
 public:
  explicit AnswerInput(int input);
  ~AnswerInput();
  AnswerInput(const AnswerInput&) = delete;
  AnswerInput& operator=(const AnswerInput&) = delete;

  // False when the means to withdraw a read could not be made; nothing can be read then.
  bool Ok() const;
  // One line without its end, read unbuffered so that nothing is left behind; the end of
  // input ends it too. Nothing once Withdraw() was called.
  std::optional<std::string> ReadLine();
  // Ends a waiting ReadLine() at once; it returns nothing.
  void Withdraw();

 private:
  int input_;
  std::atomic<bool> withdrawn_{false};
  std::atomic<std::intptr_t> wake_[2] = {-1, -1};  // what Withdraw() signals
};

// The columns of the terminal that `out` writes to, 0 when unknown.
int ConsoleColumns(std::FILE* out);

// Whether `out` is a terminal that shows the progress board (UTF-8 text, cursor movement);
// on Windows it switches the console to both first.
bool PrepareConsole(std::FILE* out);

// The version question's answer line, read from the terminal beside the main loop. What
// lets a waiting read be withdrawn differs per platform: AnswerInputPosix.cpp and
// AnswerInputWin.cpp.
//
// Thread safety: ReadLine() on one thread, Withdraw() from another.
#pragma once

#include <atomic>
#include <cstdint>
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

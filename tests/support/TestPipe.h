// A pipe for tests that feed a program's input: one file per platform
// (TestPipePosix.cpp, TestPipeWin.cpp).
#pragma once

#include <string>

namespace test_support {

class TestPipe {
 public:
  TestPipe();  // Ok() tells whether it could be made
  ~TestPipe();
  TestPipe(const TestPipe&) = delete;
  TestPipe& operator=(const TestPipe&) = delete;

  bool Ok() const { return read_ >= 0 && write_ >= 0; }
  int ReadEnd() const { return read_; }
  // Writes all of `text`; false on failure.
  bool Write(const std::string& text);
  // Closes the writing end: the reader sees the end of input.
  void CloseWriteEnd();
  // What is still waiting in the pipe, read without blocking.
  std::string Unread();

 private:
  int read_ = -1;
  int write_ = -1;
};

}  // namespace test_support

// The command line's version question: answered from the input, by option, declined without
// a terminal, and withdrawn when the run ends while it waits.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/ConsoleFrontEnd.h"
#include "tests/support/TestPipe.h"

using platform::MessageAnswer;
using platform::MessageKind;

namespace {

class ConsoleQuestion : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(input_.Ok());
    ASSERT_NE(out_, nullptr);
  }
  void TearDown() override {
    StopUnblocker();
    std::fclose(out_);
    loop_.Shutdown();
  }

  MessageAnswer Ask(std::optional<bool> answer = std::nullopt, bool interactive = true) {
    ConsoleMessages messages(loop_, view_, answer, interactive, input_.ReadEnd());
    return messages.Show(MessageKind::Confirmation, "Version 3.30 ist nicht neuer.\rTrotzdem?");
  }
  void Type(const std::string& text) { ASSERT_TRUE(input_.Write(text)); }
  void CloseInput() { input_.CloseWriteEnd(); }
  // What is still waiting in the input.
  std::string Unread() { return input_.Unread(); }
  std::string Output() {
    std::fflush(out_);
    std::rewind(out_);
    std::string text;
    for (int c; (c = std::fgetc(out_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

  // A question that is not withdrawn would wait for a line for ever; this one types it
  // after a while, so that such a fault shows as a wrong answer rather than a hang.
  void StartUnblocker() {
    unblocker_ = std::thread([this] {
      std::unique_lock lock(mutex_);
      if (!stop_.wait_for(lock, std::chrono::seconds(10), [this] { return stopped_; })) Type("j\n");
    });
  }
  void StopUnblocker() {
    if (!unblocker_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    stop_.notify_all();
    unblocker_.join();
  }

  test_support::TestPipe input_;
  std::FILE* out_ = std::tmpfile();
  platform::StdMainLoop loop_;
  ConsoleView view_{"/dev/ttyUSB0", "", out_, true};

 private:
  std::thread unblocker_;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopped_ = false;
};

TEST_F(ConsoleQuestion, AnswerLineDecidesAndOnlyItIsRead) {
  Type("j\nnext");
  EXPECT_EQ(Ask(), MessageAnswer::Ok);
  EXPECT_EQ(Unread(), "next");

  Type("Y\n");
  EXPECT_EQ(Ask(), MessageAnswer::Ok);
  Type("nein\n");
  EXPECT_EQ(Ask(), MessageAnswer::Cancel);
  Type("\n");
  EXPECT_EQ(Ask(), MessageAnswer::Cancel);
  Type("ja");  // no Enter before the input ends
  CloseInput();
  EXPECT_EQ(Ask(), MessageAnswer::Ok);
  EXPECT_EQ(Ask(), MessageAnswer::Cancel);  // nothing more to read
}

TEST_F(ConsoleQuestion, OptionOrMissingTerminalAnswerWithoutReading) {
  Type("j\n");
  EXPECT_EQ(Ask(false), MessageAnswer::Cancel);
  EXPECT_EQ(Ask(std::nullopt, false), MessageAnswer::Cancel);
  Type("n\n");
  EXPECT_EQ(Ask(true), MessageAnswer::Ok);
  EXPECT_EQ(Unread(), "j\nn\n");
}

TEST_F(ConsoleQuestion, RunEndingWhileItWaitsWithdrawsIt) {
  StartUnblocker();
  // The run's end quits the loop that serves the question meanwhile.
  loop_.Post([this] { loop_.Quit(); });
  EXPECT_EQ(Ask(), MessageAnswer::Cancel);
  StopUnblocker();
  EXPECT_EQ(Unread(), "");

  // The next output starts on a line of its own rather than behind the prompt.
  view_.SetBlockCountCaption("12");
  EXPECT_EQ(Output().substr(0, 1), "\n");
}

TEST_F(ConsoleQuestion, AnsweredPromptLeavesNoEmptyLine) {
  Type("j\n");
  EXPECT_EQ(Ask(), MessageAnswer::Ok);
  view_.SetBlockCountCaption("12");
  EXPECT_EQ(Output().substr(0, 1), "B");
}

}  // namespace

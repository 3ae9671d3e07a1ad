// The command-line front end's view and message boxes: progress and results on the
// terminal, the version question asked on the terminal or answered by option; with several
// ports, each line names its port, and on a terminal a board shows every run in place.
#pragma once

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/FlasherView.h"
#include "platform/StdMainLoop.h"
#include "platform/UserMessages.h"

// Lines redrawn in place at the bottom of a terminal, one per run. Everything else is
// printed above them through Above(). Main thread only.
class ProgressBoard {
 public:
  explicit ProgressBoard(std::FILE* out) : out_(out) {}

  void AddRow(std::function<std::string()> row) { rows_.push_back(std::move(row)); }
  // While true (a question waits for its answer line) the board is not drawn.
  void SetSuspended(std::function<bool()> suspended) { suspended_ = std::move(suspended); }
  // Takes the board off the screen, runs `print`, and draws the board again below.
  void Above(const std::function<void()>& print);
  void Draw();
  // Draws the board a last time and leaves it on the screen; later output goes below it.
  void Finish() {
    Draw();
    drawn_ = 0;
  }

 private:
  void Erase();

  std::FILE* out_;
  std::vector<std::function<std::string()>> rows_;
  std::function<bool()> suspended_;
  int drawn_ = 0;  // lines of the board on the screen, the cursor below them
};

class ConsoleView;

// Lets the ports' version questions be asked one at a time, and the other runs' lines keep
// clear of an open prompt. Main thread only, but for `reading`.
struct QuestionDesk {
  std::atomic<bool> reading{false};
  const ConsoleView* prompt_owner = nullptr;
  std::string prompt;  // the open prompt line, shown again below another run's lines
};

class ConsoleView final : public FlasherView {
 public:
  ConsoleView(std::string port, std::string file, std::FILE* out, bool terminal)
      : port_(std::move(port)), file_(std::move(file)), out_(out), terminal_(terminal) {}

  // The traffic log goes to this file when one was named.
  bool OpenLog(const std::string& path);
  void AppendToLog(const std::deque<std::string>& lines);
  // Ends a progress line or an unanswered prompt on a terminal before other output.
  void FinishProgressLine();
  void SetLineOpen(bool open) { progress_line_open_ = open; }
  // With several ports: every line names its port, the caption is shown once.
  void SetLabel(std::string label) { label_ = std::move(label); }
  const std::string& Label() const { return label_; }
  void SetShowCaption(bool show) { show_caption_ = show; }
  // On a terminal the board shows the progress; the other lines go above it.
  void SetBoard(ProgressBoard* board) { board_ = board; }
  void SetDesk(QuestionDesk* desk) { desk_ = desk; }
  QuestionDesk* Desk() const { return desk_; }
  // Prints `text` (lines broken by '\r' or '\n') to `to`, each line after the label.
  void Print(std::FILE* to, const std::string& text, bool end_line = true);

  void SetCaption(const std::string& caption) override;
  void SetDeveloperControlsVisible(bool) override {}
  void SetPorts(const std::vector<std::string>&, int) override {}
  std::string PortText() const override { return port_; }
  std::string FileNameText() const override { return file_; }
  void SetFlashEnabled(bool) override {}
  void SetPortEnabled(bool) override {}
  void SetProgress(int percent) override;
  void SetBlockCountCaption(const std::string& caption) override;
  void AppendLogLines(const std::deque<std::string>& lines) override { AppendToLog(lines); }

 private:
  std::string port_;
  std::string file_;
  std::FILE* out_;
  bool terminal_;
  int shown_progress_ = -1;
  bool progress_line_open_ = false;
  std::ofstream log_;
  std::string label_;
  bool show_caption_ = true;
  ProgressBoard* board_ = nullptr;
  QuestionDesk* desk_ = nullptr;
};

class ConsoleMessages final : public platform::UserMessages {
 public:
  // `answer`: the version question's answer given by option; without one the question is
  // asked on the terminal (`input`), and declined when there is none. A run that ends while
  // the question waits withdraws it.
  ConsoleMessages(platform::StdMainLoop& loop, ConsoleView& view, std::optional<bool> answer,
                  bool interactive, int input = 0)
      : loop_(loop), view_(view), answer_(answer), interactive_(interactive), input_(input) {}

  platform::MessageAnswer Show(platform::MessageKind kind, const std::string& text) override;

  // With several runs: the questions wait for each other at `desk`, and one whose run has
  // ended meanwhile (`withdrawn` true) is withdrawn.
  void SetDesk(QuestionDesk* desk, std::function<bool()> withdrawn) {
    desk_ = desk;
    withdrawn_ = std::move(withdrawn);
  }

 private:
  bool Withdrawn() const { return withdrawn_ && withdrawn_(); }

  platform::StdMainLoop& loop_;
  ConsoleView& view_;
  std::optional<bool> answer_;
  bool interactive_;
  int input_;
  QuestionDesk own_desk_;
  QuestionDesk* desk_ = view_.Desk() ? view_.Desk() : &own_desk_;
  std::function<bool()> withdrawn_;
};

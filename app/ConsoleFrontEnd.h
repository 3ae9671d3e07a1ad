// The command-line front end's view and message boxes: progress and results on the
// terminal, the version question asked on the terminal or answered by option.
#pragma once

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "app/FlasherView.h"
#include "platform/StdMainLoop.h"
#include "platform/UserMessages.h"

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

 private:
  platform::StdMainLoop& loop_;
  ConsoleView& view_;
  std::optional<bool> answer_;
  bool interactive_;
  int input_;
};

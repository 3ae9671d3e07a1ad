#include "app/ConsoleFrontEnd.h"

#include <unistd.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <thread>

namespace {

// Message texts break lines with a carriage return.
std::string Lines(std::string text) {
  for (char& c : text)
    if (c == '\r') c = '\n';
  return text;
}

}  // namespace

bool ConsoleView::OpenLog(const std::string& path) {
  log_.open(path, std::ios::out | std::ios::trunc);
  return log_.good();
}

void ConsoleView::AppendToLog(const std::deque<std::string>& lines) {
  if (!log_.is_open()) return;
  for (const std::string& line : lines) log_ << Lines(line) << '\n';
  log_.flush();
}

void ConsoleView::FinishProgressLine() {
  if (progress_line_open_) {
    std::fputc('\n', out_);
    progress_line_open_ = false;
  }
}

void ConsoleView::SetCaption(const std::string& caption) {
  std::fprintf(out_, "%s\n", caption.c_str());
}

void ConsoleView::SetProgress(int percent) {
  // The bar's reset at the end of a run says nothing on a terminal.
  if (percent == shown_progress_ || percent == 0) return;
  // Off a terminal, whole steps of ten keep a captured log readable.
  if (!terminal_ && percent / 10 == shown_progress_ / 10 && percent != 100) return;
  shown_progress_ = percent;
  if (terminal_) {
    std::fprintf(out_, "\rFortschritt: %3d %%", percent);
    progress_line_open_ = true;
  } else {
    std::fprintf(out_, "Fortschritt: %d %%\n", percent);
  }
  std::fflush(out_);
}

void ConsoleView::SetBlockCountCaption(const std::string& caption) {
  FinishProgressLine();
  std::fprintf(out_, "Blöcke zu senden: %s\n", caption.c_str());
  std::fflush(out_);
}

platform::MessageAnswer ConsoleMessages::Show(platform::MessageKind kind, const std::string& text) {
  view_.FinishProgressLine();
  switch (kind) {
    case platform::MessageKind::Plain:
      std::printf("%s\n", Lines(text).c_str());
      std::fflush(stdout);
      return platform::MessageAnswer::Ok;
    case platform::MessageKind::Error:
      std::fprintf(stderr, "%s\n", Lines(text).c_str());
      return platform::MessageAnswer::Abort;
    case platform::MessageKind::Confirmation:
      break;
  }
  std::printf("%s\n", Lines(text).c_str());
  if (answer_) {
    std::printf("%s\n", *answer_ ? "-> OK (--yes)" : "-> Abbrechen (--no)");
    std::fflush(stdout);
    return *answer_ ? platform::MessageAnswer::Ok : platform::MessageAnswer::Cancel;
  }
  if (!interactive_) {
    std::printf("-> Abbrechen (keine Eingabe möglich; --yes oder --no angeben)\n");
    std::fflush(stdout);
    return platform::MessageAnswer::Cancel;
  }
  std::printf("OK? [j/N] ");
  std::fflush(stdout);
  // The line is read beside the loop, which keeps serving the components meanwhile, as a
  // modal box's loop does.
  auto state = std::make_shared<std::atomic<int>>(-1);
  std::thread reader([this, state] {
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    const bool yes = got && !line.empty() && (line[0] == 'j' || line[0] == 'J' ||
                                              line[0] == 'y' || line[0] == 'Y');
    loop_.Post([state, yes] { *state = yes ? 1 : 0; });
  });
  loop_.RunUntil([&] { return *state >= 0; }, std::chrono::hours(24));
  reader.join();
  return *state == 1 ? platform::MessageAnswer::Ok : platform::MessageAnswer::Cancel;
}

#include "app/ConsoleFrontEnd.h"

#include <atomic>
#include <thread>

#include "app/AnswerInput.h"

namespace {

// Message texts break lines with a carriage return.
std::string Lines(std::string text) {
  for (char& c : text)
    if (c == '\r') c = '\n';
  return text;
}

constexpr int kNoAnswerYet = -1;
constexpr int kNo = 0;
constexpr int kYes = 1;
constexpr int kWithdrawn = 2;

// One answer from `input`; the end of input declines.
int ReadAnswer(AnswerInput& input) {
  const std::optional<std::string> line = input.ReadLine();
  if (!line) return kWithdrawn;
  const bool yes = !line->empty() && ((*line)[0] == 'j' || (*line)[0] == 'J' ||
                                      (*line)[0] == 'y' || (*line)[0] == 'Y');
  return yes ? kYes : kNo;
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
  view_.SetLineOpen(true);
  // The line is read beside the loop, which keeps serving the components meanwhile, as a
  // modal box's loop does. A run that ends meanwhile withdraws the question.
  AnswerInput input(input_);
  if (!input.Ok()) return platform::MessageAnswer::Cancel;
  std::atomic<int> state{kNoAnswerYet};
  std::thread reader([this, &state, &input] {
    state = ReadAnswer(input);
    loop_.Post([] {});
  });
  loop_.RunUntil([&] { return state != kNoAnswerYet; }, std::chrono::hours(24));
  input.Withdraw();
  reader.join();
  if (state != kWithdrawn) view_.SetLineOpen(false);  // the Enter key ended the line
  return state == kYes ? platform::MessageAnswer::Ok : platform::MessageAnswer::Cancel;
}

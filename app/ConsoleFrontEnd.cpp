#include "app/ConsoleFrontEnd.h"

#include <atomic>
#include <thread>
#include <utility>

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

// `text` cut to `columns` characters (UTF-8), so that no board line wraps.
std::string Fit(const std::string& text, int columns) {
  if (columns <= 0) return text;
  int count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++count > columns) return text.substr(0, i);
  }
  return text;
}

}  // namespace

void ProgressBoard::Erase() {
  if (drawn_ == 0) return;
  std::fprintf(out_, "\x1b[%dA\r\x1b[J", drawn_);
  drawn_ = 0;
}

void ProgressBoard::Above(const std::function<void()>& print) {
  Erase();
  std::fflush(out_);
  print();
  std::fflush(stdout);
  std::fflush(stderr);
  Draw();
}

void ProgressBoard::Draw() {
  if (suspended_ && suspended_()) return;
  const int columns = ConsoleColumns(out_);
  if (drawn_ > 0) std::fprintf(out_, "\x1b[%dA", drawn_);
  for (const auto& row : rows_)
    std::fprintf(out_, "\r%s\x1b[K\n", Fit(row(), columns > 1 ? columns - 1 : 0).c_str());
  drawn_ = static_cast<int>(rows_.size());
  std::fflush(out_);
}

void ConsoleView::Print(std::FILE* to, const std::string& text, bool end_line) {
  // Another run's prompt waits on the last line: our lines go in its place, and the prompt
  // is shown again below them.
  const bool other_prompt =
      desk_ && desk_->reading && desk_->prompt_owner && desk_->prompt_owner != this;
  auto emit = [&] {
    FinishProgressLine();
    if (other_prompt) {
      std::fputs(terminal_ ? "\r\x1b[K" : "\n", out_);
      std::fflush(out_);
    }
    const std::string prefix = label_.empty() ? "" : "[" + label_ + "] ";
    std::string lines = Lines(text);
    for (std::size_t start = 0;;) {
      const std::size_t nl = lines.find('\n', start);
      const std::string line = lines.substr(start, nl == std::string::npos ? nl : nl - start);
      std::fprintf(to, "%s%s", prefix.c_str(), line.c_str());
      if (nl == std::string::npos) break;
      std::fputc('\n', to);
      start = nl + 1;
    }
    if (end_line) std::fputc('\n', to);
    std::fflush(to);
    if (other_prompt) {
      std::fputs(desk_->prompt.c_str(), out_);
      std::fflush(out_);
    }
  };
  if (board_) {
    board_->Above(emit);
  } else {
    emit();
  }
}

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
    std::fflush(out_);
    progress_line_open_ = false;
  }
}

void ConsoleView::SetCaption(const std::string& caption) {
  if (!show_caption_) return;
  // The caption belongs to the program, not to one port.
  const std::string label = std::exchange(label_, "");
  Print(out_, caption);
  label_ = label;
}

void ConsoleView::SetProgress(int percent) {
  // The bar's reset at the end of a run says nothing on a terminal.
  if (board_ || percent == shown_progress_ || percent == 0) return;
  // Off a terminal, whole steps of ten keep a captured log readable.
  if (!terminal_ && percent / 10 == shown_progress_ / 10 && percent != 100) return;
  shown_progress_ = percent;
  if (terminal_) {
    std::fprintf(out_, "\rFortschritt: %3d %%", percent);
    progress_line_open_ = true;
    std::fflush(out_);
  } else {
    Print(out_, "Fortschritt: " + std::to_string(percent) + " %");
  }
}

void ConsoleView::SetBlockCountCaption(const std::string& caption) {
  Print(out_, "Blöcke zu senden: " + caption);
}

platform::MessageAnswer ConsoleMessages::Show(platform::MessageKind kind, const std::string& text) {
  switch (kind) {
    case platform::MessageKind::Plain:
      view_.Print(stdout, text);
      return platform::MessageAnswer::Ok;
    case platform::MessageKind::Error:
      view_.Print(stderr, text);
      return platform::MessageAnswer::Abort;
    case platform::MessageKind::Confirmation:
      break;
  }
  if (answer_) {
    view_.Print(stdout, text + "\r" + (*answer_ ? "-> OK (--yes)" : "-> Abbrechen (--no)"));
    return *answer_ ? platform::MessageAnswer::Ok : platform::MessageAnswer::Cancel;
  }
  if (!interactive_) {
    view_.Print(stdout, text + "\r-> Abbrechen (keine Eingabe möglich; --yes oder --no angeben)");
    return platform::MessageAnswer::Cancel;
  }
  // One question at a time: another port's question is answered first.
  if (desk_->reading) {
    loop_.RunUntil([&] { return !desk_->reading || Withdrawn(); }, std::chrono::hours(24));
  }
  if (Withdrawn()) return platform::MessageAnswer::Cancel;
  desk_->prompt_owner = nullptr;  // an earlier prompt has had its answer line
  desk_->reading = true;
  view_.Print(stdout, text + "\rOK? [j/N] ", false);
  view_.SetLineOpen(true);
  desk_->prompt_owner = &view_;
  desk_->prompt = view_.Label().empty() ? "OK? [j/N] " : "[" + view_.Label() + "] OK? [j/N] ";
  // The line is read beside the loop, which keeps serving the components meanwhile, as a
  // modal box's loop does. A run that ends meanwhile withdraws the question.
  AnswerInput input(input_);
  if (!input.Ok()) {
    desk_->reading = false;
    return platform::MessageAnswer::Cancel;
  }
  std::atomic<int> state{kNoAnswerYet};
  std::thread reader([this, &state, &input] {
    state = ReadAnswer(input);
    desk_->reading = false;
    loop_.Post([] {});
  });
  loop_.RunUntil([&] { return state != kNoAnswerYet || Withdrawn(); }, std::chrono::hours(24));
  input.Withdraw();
  reader.join();
  desk_->reading = false;
  desk_->prompt_owner = nullptr;
  if (state != kWithdrawn) view_.SetLineOpen(false);  // the Enter key ended the line
  if (state == kWithdrawn && Withdrawn()) view_.FinishProgressLine();  // the others go on
  return state == kYes ? platform::MessageAnswer::Ok : platform::MessageAnswer::Cancel;
}

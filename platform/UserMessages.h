// The user messages seam: the application's three kinds of modal boxes.
//
// Texts are UTF-8; a carriage return breaks the line. Show() blocks the caller until the
// user answers; the implementation keeps serving the main loop meanwhile where the
// platform does (as a modal box's loop does). Main thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace platform {

enum class MessageKind {
  Plain,         // OK button, the application title as caption
  Confirmation,  // OK and Cancel, question icon
  Error,         // error icon, a single Abort button
};

enum class MessageAnswer { Ok, Cancel, Abort };

class UserMessages {
 public:
  virtual ~UserMessages() = default;
  virtual MessageAnswer Show(MessageKind kind, const std::string& text) = 0;
};

// Test double: records every box and answers from a script. Without a scripted answer a
// plain box answers Ok, a confirmation Ok and an error box Abort.
class RecordingMessages final : public UserMessages {
 public:
  struct Shown {
    MessageKind kind;
    std::string text;
  };

  MessageAnswer Show(MessageKind kind, const std::string& text) override {
    shown.push_back({kind, text});
    if (while_open) while_open(shown.back());
    if (!answers.empty()) {
      MessageAnswer answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    }
    return kind == MessageKind::Error ? MessageAnswer::Abort : MessageAnswer::Ok;
  }

  std::vector<Shown> shown;
  std::vector<MessageAnswer> answers;
  // Runs while the box is "open", so tests can deliver events a modal loop would.
  std::function<void(const Shown&)> while_open;
};

}  // namespace platform

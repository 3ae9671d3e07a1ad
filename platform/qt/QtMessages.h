// The user messages seam as Qt message boxes. The caption of every box is the application
// title (QApplication::applicationName's display form, set at start-up).
#pragma once

#include "platform/UserMessages.h"

class QWidget;

namespace platform {

class QtMessages final : public UserMessages {
 public:
  explicit QtMessages(QWidget* parent = nullptr) : parent_(parent) {}
  MessageAnswer Show(MessageKind kind, const std::string& text) override;

 private:
  QWidget* parent_;
};

}  // namespace platform

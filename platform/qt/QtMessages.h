// The user messages seam as Qt message boxes, each with the application's title as caption.
#pragma once

#include <string>

#include "platform/UserMessages.h"

class QWidget;

namespace platform {

class QtMessages final : public UserMessages {
 public:
  QtMessages(QWidget* parent, std::string title) : parent_(parent), title_(std::move(title)) {}
  MessageAnswer Show(MessageKind kind, const std::string& text) override;

 private:
  QWidget* parent_;
  std::string title_;
};

}  // namespace platform

#include "platform/qt/QtMessages.h"

#include <QMessageBox>

namespace platform {

MessageAnswer QtMessages::Show(MessageKind kind, const std::string& text) {
  // A carriage return breaks the line, as the texts expect.
  QString body = QString::fromStdString(text);
  body.replace(QChar('\r'), QChar('\n'));
  QMessageBox box(parent_);
  box.setWindowTitle(QString::fromStdString(title_));
  box.setText(body);
  switch (kind) {
    case MessageKind::Plain:
      box.setIcon(QMessageBox::NoIcon);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageKind::Confirmation:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
    case MessageKind::Error:
      box.setIcon(QMessageBox::Critical);
      box.setStandardButtons(QMessageBox::Abort);
      box.setEscapeButton(QMessageBox::Abort);
      break;
  }
  const int result = box.exec();
  if (kind == MessageKind::Confirmation)
    return result == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
  return kind == MessageKind::Error ? MessageAnswer::Abort : MessageAnswer::Ok;
}

}  // namespace platform

// What the three settings dialogs of the components share: the modal results of their
// buttons, Cancel for the window's close box and Escape, filling the controls each time the
// dialog is shown, their message boxes, and the error box for a field whose text is no
// whole number (the button's action ends there and the dialog stays open).
//
// Qt Widgets, main thread only. Header-only, so that each dialog library stays one file.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QShowEvent>
#include <functional>
#include <memory>

#include "platform/qt/QtMessages.h"
#include "util/ByteText.h"

namespace platform {

// The results a dialog closes with, numbered as the components' callers know them.
enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

class SettingsDialogBase : public QDialog {
 public:
  // `messages` takes the dialog's boxes; null shows Qt message boxes over the dialog.
  SettingsDialogBase(QWidget* parent, UserMessages* messages) : QDialog(parent) {
    setModal(true);
    if (!messages) {
      own_messages_ =
          std::make_unique<QtMessages>(this, QApplication::applicationDisplayName().toStdString());
      messages = own_messages_.get();
    }
    messages_ = messages;
  }

  UserMessages& Messages() { return *messages_; }

  // Where a dialog opened by a component goes: over the open modal dialog (the chain opens
  // downward), else over the active window.
  static QWidget* ParentForNext() {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
  }

  // The window's close box and Escape count as Cancel.
  void reject() override { done(mrCancel); }

 protected:
  // Filled on every show; a show the window system makes (after minimising) keeps the
  // user's edits.
  virtual void FormShow() = 0;
  void showEvent(QShowEvent* event) override {
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
  }

  // Runs a button's action that reads the controls. A text that is no whole number ends it
  // with the conversion error in an error box; the dialog then stays open. True when the
  // action ran to its end.
  bool Applied(const std::function<void()>& action) {
    try {
      action();
      return true;
    } catch (const ConversionError& e) {
      messages_->Show(MessageKind::Error, e.what());
      return false;
    }
  }

 private:
  std::unique_ptr<UserMessages> own_messages_;
  UserMessages* messages_ = nullptr;
};

}  // namespace platform

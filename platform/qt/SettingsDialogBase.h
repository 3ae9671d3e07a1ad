// What the three settings dialogs of the components share: the four standard buttons and
// the modal results they close with, Cancel for the window's close box and Escape, filling
// the controls each time the dialog is shown, their message boxes, and the error box for a
// field whose text is no whole number (the button's action ends there and the dialog stays
// open).
//
// Qt Widgets, main thread only. Header-only, so that each dialog library stays one file.
#pragma once

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <array>
#include <functional>
#include <initializer_list>
#include <memory>

#include "platform/qt/QtMessages.h"
#include "util/ByteText.h"
#include "util/RegIniFile.h"

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

  // Controls to component, each through its setter; a field that is no whole number throws
  // ConversionError there, and what came before stays.
  virtual void GetDlgData() = 0;

  // OK applies and closes; Standard Setzen applies, saves the component's settings as the
  // defaults and closes; Standard Laden loads the defaults into the component and closes.
  void OKBtnClick() {
    if (Applied([this] { GetDlgData(); })) done(mrOk);
  }
  void StandardSetzenBtnClick() {
    if (!Applied([this] { GetDlgData(); })) return;
    SaveDefaults();
    done(mrYes);
  }
  void StandardLadenBtnClick() {
    LoadDefaults();
    done(mrNo);
  }
  void CancelBtnClick() { done(mrCancel); }

  QPushButton* OKBtn = nullptr;
  QPushButton* StandardSetzenBtn = nullptr;
  QPushButton* StandardLadenBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

 protected:
  virtual void SaveDefaults() = 0;
  virtual void LoadDefaults() = 0;

  // Group contents packed closely, so that the dialog keeps about its intended size.
  template <class Layout>
  static Layout* Packed(Layout* layout, int bottom = 6) {
    layout->setContentsMargins(8, 4, 8, bottom);
    layout->setSpacing(4);
    return layout;
  }

  // A number field's text, taken as the stored settings take a number: plain decimal, a
  // minus only where `min` is below 0, within min..max. Any other text throws
  // ConversionError, so the same texts are refused here and in the store.
  static std::int64_t WholeNumber(const QLineEdit* edit, std::int64_t min, std::int64_t max) {
    const std::string text = edit->text().toStdString();
    const auto number = ParseSettingsNumber(text, min, max);
    if (!number) throw ConversionError(text);
    return *number;
  }

  // A caption whose mnemonic moves the focus to `buddy`.
  static QLabel* Label(QWidget* parent, const char* caption, QWidget* buddy,
                       const char* name = nullptr) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    if (name) label->setObjectName(QString::fromUtf8(name));
    label->setBuddy(buddy);
    return label;
  }

  // The groups stacked at the left, the buttons in a column of equal widths at the right,
  // `gap` pixels apart.
  void ArrangeGroupsAndButtons(std::initializer_list<QWidget*> groups,
                               std::initializer_list<QPushButton*> buttons, int gap = 20) {
    auto* left = new QVBoxLayout;
    left->setSpacing(4);
    for (QWidget* group : groups) left->addWidget(group);
    left->addStretch();
    auto* right = new QVBoxLayout;
    right->setSpacing(7);
    for (QPushButton* button : buttons) {
      button->setFixedWidth(128);
      right->addWidget(button);
    }
    right->addStretch();
    auto* columns = new QHBoxLayout(this);
    columns->setContentsMargins(8, 8, 8, 8);
    columns->setSpacing(gap);
    columns->addLayout(left, 1);
    columns->addLayout(right);
  }

  // Makes the four buttons, named for tests, OK the default, each wired to its handler;
  // returned in their order for the dialog's layout.
  std::array<QPushButton*, 4> MakeStandardButtons() {
    auto make = [this](const char* caption, const char* name, void (SettingsDialogBase::*click)()) {
      auto* button = new QPushButton(QString::fromUtf8(caption), this);
      button->setObjectName(QString::fromUtf8(name));
      connect(button, &QPushButton::clicked, this, [this, click] { (this->*click)(); });
      return button;
    };
    OKBtn = make("OK", "OKBtn", &SettingsDialogBase::OKBtnClick);
    StandardSetzenBtn =
        make("Standard Setzen", "StandardSetzenBtn", &SettingsDialogBase::StandardSetzenBtnClick);
    StandardLadenBtn =
        make("Standard Laden", "StandardLadenBtn", &SettingsDialogBase::StandardLadenBtnClick);
    CancelBtn = make("Cancel", "CancelBtn", &SettingsDialogBase::CancelBtnClick);
    OKBtn->setDefault(true);
    return {OKBtn, StandardSetzenBtn, StandardLadenBtn, CancelBtn};
  }

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

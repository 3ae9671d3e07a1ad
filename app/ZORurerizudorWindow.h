// The flasher's window: a fixed 537 x 192 form with the port box, the developer row, the
// Flash button, the progress bar and a hidden log view. It only shows; the run logic is
// TZORurerizudor.
#pragma once

#include <QCommandLinkButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "app/FlasherView.h"

class ZORurerizudorWindow final : public QWidget, public FlasherView {
 public:
  ZORurerizudorWindow();

  void SetCaption(const std::string& caption) override;
  void SetDeveloperControlsVisible(bool visible) override;
  void SetPorts(const std::vector<std::string>& items, int selected) override;
  std::string PortText() const override;
  std::string FileNameText() const override;
  void SetFlashEnabled(bool enabled) override;
  void SetPortEnabled(bool enabled) override;
  void SetProgress(int percent) override;
  void SetBlockCountCaption(const std::string& caption) override;
  void AppendLogLines(const std::deque<std::string>& lines) override;

  std::function<void()> OnFlashClick;

  // The controls, named as the form names them; tests reach them here.
  QLabel* Label7;
  QComboBox* Port;
  QLabel* Label2;
  QLineEdit* Dateiname;
  QPushButton* FileName;
  QLabel* ToSendCount;
  QCommandLinkButton* Flash;
  QProgressBar* ProgressBar1;
  QPlainTextEdit* ZuRerirUdavudiri;

 private:
  void FileNameClick();
};

// The "Cobalt" look, built into the program.
extern const char* const kCobaltStyleSheet;

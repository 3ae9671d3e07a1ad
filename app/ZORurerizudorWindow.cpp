#include "app/ZORurerizudorWindow.h"

#include <QFileDialog>
#include <QFont>

#include "app/TZORurerizudor.h"
#include "platform/PortDescription.h"

const char* const kCobaltStyleSheet = R"(
QWidget { background-color: #1f3550; color: #e8eef6; }
QLabel { background: transparent; }
QComboBox, QLineEdit {
  background-color: #10233a; color: #ffffff; border: 1px solid #4d7fb8; border-radius: 3px;
  padding: 2px 6px; selection-background-color: #3a78c2;
}
QComboBox:disabled, QLineEdit:disabled { color: #7d8ea3; border-color: #34506f; }
QComboBox QAbstractItemView { background-color: #10233a; color: #ffffff;
  selection-background-color: #3a78c2; }
QPushButton, QCommandLinkButton {
  background-color: #2c5d94; color: #ffffff; border: 1px solid #6fa0d8; border-radius: 4px;
  padding: 4px 10px;
}
QPushButton:hover, QCommandLinkButton:hover { background-color: #3a78c2; }
QPushButton:pressed, QCommandLinkButton:pressed { background-color: #224a78; }
QPushButton:disabled, QCommandLinkButton:disabled { background-color: #2a3f57; color: #7d8ea3;
  border-color: #3b5878; }
QProgressBar { background-color: #10233a; border: 1px solid #4d7fb8; border-radius: 3px;
  text-align: center; color: #ffffff; }
QProgressBar::chunk { background-color: #3f8fe0; }
QMessageBox { background-color: #1f3550; }
)";

ZORurerizudorWindow::ZORurerizudorWindow() {
  setFixedSize(537, 192);
  QFont font = this->font();
  font.setPixelSize(16);
  setFont(font);

  Label7 = new QLabel("ComPort", this);
  Label7->setGeometry(16, 16, 80, 26);
  Port = new QComboBox(this);
  Port->setEditable(true);
  Port->setGeometry(104, 14, 417, 30);
  Port->addItem("COM1");

  Label2 = new QLabel("BinFile", this);
  Label2->setGeometry(16, 58, 80, 26);
  Dateiname = new QLineEdit(QString::fromStdString(flasher_text::kDefaultFile), this);
  Dateiname->setGeometry(104, 56, 369, 30);
  FileName = new QPushButton("...", this);
  FileName->setGeometry(481, 56, 40, 30);

  ToSendCount = new QLabel("0", this);
  ToSendCount->setGeometry(240, 104, 120, 26);
  ToSendCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Flash = new QCommandLinkButton("Flash", this);
  Flash->setGeometry(371, 96, 150, 44);

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setGeometry(16, 152, 505, 24);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);

  ZuRerirUdavudiri = new QPlainTextEdit(this);
  ZuRerirUdavudiri->setReadOnly(true);
  ZuRerirUdavudiri->setGeometry(16, 184, 505, 8);
  ZuRerirUdavudiri->hide();  // kept for the traffic log, never shown

  SetDeveloperControlsVisible(false);
  connect(Flash, &QCommandLinkButton::clicked, this, [this] {
    if (OnFlashClick) OnFlashClick();
  });
  connect(FileName, &QPushButton::clicked, this, [this] { FileNameClick(); });
}

void ZORurerizudorWindow::FileNameClick() {
  QFileDialog dialog(this);
  dialog.setDefaultSuffix("bin");
  dialog.setDirectory(".");
  dialog.selectFile("Fennrig_fenn.BIN");
  dialog.setNameFilter(QString::fromUtf8("Binärfile (*.Bin *.bin *.BIN)"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    Dateiname->setText(dialog.selectedFiles().front());
}

void ZORurerizudorWindow::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void ZORurerizudorWindow::SetDeveloperControlsVisible(bool visible) {
  Label2->setVisible(visible);
  Dateiname->setVisible(visible);
  FileName->setVisible(visible);
  ToSendCount->setVisible(visible);
}

void ZORurerizudorWindow::SetPorts(const std::vector<std::string>& items, int selected) {
  Port->clear();
  for (const std::string& item : items) {
    // The item names the port; what it is shows when the pointer rests on it.
    Port->addItem(QString::fromStdString(item));
    Port->setItemData(Port->count() - 1, QString::fromStdString(platform::DescribePort(item)),
                      Qt::ToolTipRole);
  }
  Port->setCurrentIndex(selected);
  if (selected < 0) Port->setEditText(QString());
}

std::string ZORurerizudorWindow::PortText() const { return Port->currentText().toStdString(); }

std::string ZORurerizudorWindow::FileNameText() const { return Dateiname->text().toStdString(); }

void ZORurerizudorWindow::SetFlashEnabled(bool enabled) { Flash->setEnabled(enabled); }

void ZORurerizudorWindow::SetPortEnabled(bool enabled) { Port->setEnabled(enabled); }

void ZORurerizudorWindow::SetProgress(int percent) { ProgressBar1->setValue(percent); }

void ZORurerizudorWindow::SetBlockCountCaption(const std::string& caption) {
  ToSendCount->setText(QString::fromStdString(caption));
}

void ZORurerizudorWindow::AppendLogLines(const std::deque<std::string>& lines) {
  for (const std::string& line : lines) ZuRerirUdavudiri->appendPlainText(QString::fromStdString(line));
}

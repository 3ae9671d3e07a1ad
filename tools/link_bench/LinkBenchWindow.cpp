#include "tools/link_bench/LinkBenchWindow.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QTime>
#include <QVBoxLayout>

#include "tools/link_bench/HexText.h"

namespace {

const char* ProtocolName(TProtokoll p) {
  switch (p) {
    case TProtokoll::pNone:
      return "kein Protokoll";
    case TProtokoll::p3964R:
      return "3964R";
    case TProtokoll::p3964RPlus:
      return "3964R/Plus";
    case TProtokoll::p3964RStream:
      return "3964R-Stream";
    case TProtokoll::pHDLCNRM:
      return "HDLC";
  }
  return "unbekanntes Protokoll";
}

QString Stamp() {
  return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

QPlainTextEdit* View(QWidget* parent, int lines) {
  auto* view = new QPlainTextEdit(parent);
  view->setReadOnly(true);
  view->setMaximumBlockCount(lines);
  view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view->setLineWrapMode(QPlainTextEdit::NoWrap);
  return view;
}

}  // namespace

LinkBenchWindow::LinkBenchWindow(TRiVadaroverEza& Protocol, TDoVuverUve& Line, TDaVevureRez& Serial,
                                 std::function<std::vector<std::string>()> FindPorts)
    : fProtocol(Protocol), fLine(Line), fSerial(Serial), fFindPorts(std::move(FindPorts)) {
  setWindowTitle(QStringLiteral("Link-Prüfstand"));

  auto* chain = new QGroupBox(QStringLiteral("Verbindung"), this);
  PortBox = new QComboBox(chain);
  PortBox->setEditable(true);
  PortBox->setInsertPolicy(QComboBox::NoInsert);
  PortBox->setMinimumContentsLength(24);
  FindBtn = new QPushButton(QStringLiteral("Suchen"), chain);
  SettingsBtn = new QPushButton(QStringLiteral("Einstellungen …"), chain);
  ActiveBox = new QCheckBox(QStringLiteral("Verbindung aktiv"), chain);
  State = new QLabel(chain);
  auto* chainGrid = new QGridLayout(chain);
  auto* portLabel = new QLabel(QStringLiteral("&Port"), chain);
  portLabel->setBuddy(PortBox);
  chainGrid->addWidget(portLabel, 0, 0);
  chainGrid->addWidget(PortBox, 0, 1);
  chainGrid->addWidget(FindBtn, 0, 2);
  chainGrid->addWidget(SettingsBtn, 0, 3);
  chainGrid->addWidget(ActiveBox, 1, 1);
  chainGrid->addWidget(State, 2, 0, 1, 4);
  chainGrid->setColumnStretch(1, 1);

  auto* send = new QGroupBox(QStringLiteral("Telegramm senden (hexadezimal)"), this);
  HexEdit = new QLineEdit(send);
  HexEdit->setPlaceholderText(QStringLiteral("z. B. 02 10 FF"));
  SendBtn = new QPushButton(QStringLiteral("&Senden"), send);
  auto* sendRow = new QHBoxLayout(send);
  sendRow->addWidget(HexEdit, 1);
  sendRow->addWidget(SendBtn);

  auto* telegrams = new QGroupBox(QStringLiteral("Telegramme (→ gesendet, ← empfangen)"), this);
  Telegrams = View(telegrams, 5000);
  (new QVBoxLayout(telegrams))->addWidget(Telegrams);
  auto* log = new QGroupBox(QStringLiteral("Verkehrsprotokoll"), this);
  Log = View(log, 10000);
  (new QVBoxLayout(log))->addWidget(Log);

  auto* all = new QVBoxLayout(this);
  all->addWidget(chain);
  all->addWidget(send);
  all->addWidget(telegrams, 1);
  all->addWidget(log, 2);
  resize(760, 640);

  connect(FindBtn, &QPushButton::clicked, this, [this] { FillPorts(); });
  connect(SettingsBtn, &QPushButton::clicked, this, [this] { OpenSettings(); });
  connect(ActiveBox, &QCheckBox::clicked, this, [this](bool on) { Switch(on); });
  connect(SendBtn, &QPushButton::clicked, this, [this] { Send(); });
  connect(HexEdit, &QLineEdit::returnPressed, this, [this] { Send(); });

  TRiVadaroverEza& p = fProtocol;
  auto refresh = [this](TObject*) { Refresh(); };
  p.OnDataRecieveEvent = [this](TObject*) { TakeTelegrams(); };
  p.OnSuccessfulReadyEvent = [this](TObject*) {
    Note(QStringLiteral("%1   alles Gesendete ist quittiert").arg(Stamp()));
    Refresh();
  };
  p.OnErrorAbortEvent = [this](TObject*, std::uint32_t Place, std::uint32_t Code,
                               const ByteString& Msg, std::uint8_t) {
    Note(QStringLiteral("%1 ! %2 (Ort %3, Code %4)")
             .arg(Stamp(), QString::fromStdString(Msg))
             .arg(Place, 4, 16, QLatin1Char('0'))
             .arg(Code));
    Refresh();
  };
  p.OnModemConnectEvent = refresh;
  p.OnModemDisconnectEvent = refresh;
  p.OnModemDataRecieveEvent = refresh;
  p.OnModemErrorTransmitEvent = refresh;
  p.OnComWriteDone = refresh;
  p.OnComProcessError = refresh;

  FillPorts();
  PortBox->setCurrentText(QString::fromStdString(fSerial.ComPort()));
  Refresh();
}

LinkBenchWindow::~LinkBenchWindow() {
  TRiVadaroverEza& p = fProtocol;
  for (TNotifyEvent* event :
       {&p.OnDataRecieveEvent, &p.OnSuccessfulReadyEvent, &p.OnModemConnectEvent,
        &p.OnModemDisconnectEvent, &p.OnModemDataRecieveEvent, &p.OnModemErrorTransmitEvent,
        &p.OnComWriteDone, &p.OnComProcessError})
    *event = nullptr;
  p.OnErrorAbortEvent = nullptr;
}

void LinkBenchWindow::FillPorts() {
  const QString chosen = PortBox->currentText();
  PortBox->clear();
  for (const std::string& port : fFindPorts()) PortBox->addItem(QString::fromStdString(port));
  PortBox->setCurrentText(chosen);
}

void LinkBenchWindow::ApplyPort() {
  const std::string port = PortBox->currentText().trimmed().toStdString();
  if (!port.empty()) fSerial.SetComPort(port);
}

void LinkBenchWindow::OpenSettings() {
  ApplyPort();
  fProtocol.ExecuteDlg();
  // The dialogs may have chosen another port.
  PortBox->setCurrentText(QString::fromStdString(fSerial.ComPort()));
  Refresh();
}

void LinkBenchWindow::Switch(bool On) {
  if (On) ApplyPort();
  fProtocol.SetActive(On);
  if (On && !fLine.Connected())
    Note(QStringLiteral("%1 ! keine Verbindung über %2 (siehe Verkehrsprotokoll)")
             .arg(Stamp(), QString::fromStdString(fSerial.ComPort())));
  Refresh();
}

void LinkBenchWindow::Send() {
  const auto bytes = ParseHexBytes(HexEdit->text().toStdString());
  if (!bytes) {
    QMessageBox::warning(this, windowTitle(),
                         QStringLiteral("„%1“ ist kein Telegramm in Hex-Schreibweise, etwa "
                                        "„02 10 FF“.")
                             .arg(HexEdit->text()));
    return;
  }
  Note(QStringLiteral("%1 → %2").arg(Stamp(), QString::fromStdString(FormatHexBytes(*bytes))));
  fProtocol.SendeString(*bytes);
  Refresh();
}

void LinkBenchWindow::TakeTelegrams() {
  while (fProtocol.GetNextClusterSize() > 0) {
    std::uint32_t size = 0;
    const ByteString telegram = fProtocol.ReadNextCluster(size);
    Note(QStringLiteral("%1 ← %2").arg(Stamp(), QString::fromStdString(FormatHexBytes(telegram))));
  }
  Refresh();
}

void LinkBenchWindow::Note(const QString& line) {
  Telegrams->appendPlainText(line);
}

void LinkBenchWindow::Refresh() {
  for (const std::string& line : fLine.ProtokollListe)
    Log->appendPlainText(QString::fromStdString(line));
  fLine.ProtokollListe.clear();
  State->setText(
      QStringLiteral("Port %1 %2 · Leitung %3 · %4 · %5 Telegramm(e) in der Sendeliste")
          .arg(QString::fromStdString(fSerial.ComPort()),
               fSerial.Active() ? QStringLiteral("offen") : QStringLiteral("geschlossen"),
               fLine.Connected() ? QStringLiteral("verbunden") : QStringLiteral("nicht verbunden"),
               QString::fromUtf8(ProtocolName(fProtocol.Protokoll())))
          .arg(fProtocol.ToSendListe.size()));
  ActiveBox->setChecked(fProtocol.Active());
}

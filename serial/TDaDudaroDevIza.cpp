#include "serial/TDaDudaroDevIza.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "platform/PortDescription.h"
#include "util/ComPortList.h"

using platform::MessageKind;

namespace {

QString Text(const std::string& utf8) {
  return QString::fromStdString(utf8);
}

QComboBox* List(QWidget* parent, const char* name, std::initializer_list<const char*> items) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  // Long entries (port paths) must not widen the dialog; the open list shows them whole.
  box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  box->setMinimumContentsLength(8);
  for (const char* item : items) box->addItem(QString::fromUtf8(item));
  return box;
}

QLineEdit* Edit(QWidget* parent, const char* name, const char* initial, int width = 0) {
  auto* edit = new QLineEdit(QString::fromUtf8(initial), parent);
  edit->setObjectName(name);
  if (width) edit->setFixedWidth(width);
  return edit;
}

QCheckBox* Check(QWidget* parent, const char* name, const char* caption) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setObjectName(name);
  return box;
}

// The selected entry's text read as a number, `fallback` when it is none.
std::int64_t NumberOr(const QString& text, std::int64_t fallback) {
  return ParseSettingsNumber(text.toStdString(), 0, UINT32_MAX).value_or(fallback);
}

// A list index as a one-byte property takes it: nothing selected (-1) arrives as 255.
std::uint8_t IndexByte(const QComboBox* box) {
  return static_cast<std::uint8_t>(box->currentIndex());
}

}  // namespace

TDaDudaroDevIza::TDaDudaroDevIza(TDaVevureRez& AOwner, QWidget* parent,
                                 platform::UserMessages* messages,
                                 std::optional<std::vector<std::string>> Ports)
    : SettingsDialogBase(parent, messages), Owner(AOwner) {
  setWindowTitle(QStringLiteral("DaVevureRez Einstellungen"));

  auto* basics = new QGroupBox(QStringLiteral("Grundeinstellungen"), this);
  CBPort = List(basics, "CBPort", {});
  // Editable: a port the search did not find can be kept or typed.
  CBPort->setEditable(true);
  CBPort->setInsertPolicy(QComboBox::NoInsert);
  std::vector<std::string> names = Ports ? std::move(*Ports) : GetComPortList();
  // The port box is sorted, without regard to letter case.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return QString::compare(Text(a), Text(b), Qt::CaseInsensitive) < 0;
  });
  for (const std::string& name : names) {
    CBPort->addItem(Text(name));
    CBPort->setItemData(CBPort->count() - 1, Text(platform::DescribePort(name)), Qt::ToolTipRole);
  }
  CBParity = List(basics, "CBParity", {"None (*)", "Odd", "Even", "Mark", "Space"});
  CBData = List(basics, "CBData", {"4 Bits", "5 Bits", "6 Bits", "7 Bits", "8 Bits"});
  CBBaud = List(basics, "CBBaud",
                {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
                 "56000", "57600", "115200", "128000", "256000"});
  CBFlow = List(basics, "CBFlow", {"None (*)", "XOn-XOff", "RTS-CTS", "DSR-DTR", "VuVadudeva"});
  CBStop = List(basics, "CBStop", {"1 Bit (*)", "1,5 Bits", "2 Bits"});
  CBOpenPort = Check(basics, "CBOpenPort", "OpenPort");
  auto* basicsGrid = Packed(new QGridLayout(basics), 4);
  basicsGrid->addWidget(Label(basics, "&Port", CBPort), 0, 0);
  basicsGrid->addWidget(CBPort, 0, 1);
  basicsGrid->addWidget(Label(basics, "Pari&ty", CBParity), 0, 2);
  basicsGrid->addWidget(CBParity, 0, 3);
  basicsGrid->addWidget(Label(basics, "&Databits", CBData), 1, 0);
  basicsGrid->addWidget(CBData, 1, 1);
  basicsGrid->addWidget(Label(basics, "&Baudrate", CBBaud), 1, 2);
  basicsGrid->addWidget(CBBaud, 1, 3);
  basicsGrid->addWidget(Label(basics, "&Flowcontrol", CBFlow), 2, 0);
  basicsGrid->addWidget(CBFlow, 2, 1);
  basicsGrid->addWidget(Label(basics, "&Stop", CBStop), 2, 2);
  basicsGrid->addWidget(CBStop, 2, 3);
  basicsGrid->addWidget(CBOpenPort, 3, 0, 1, 4);
  basicsGrid->setColumnStretch(1, 1);
  basicsGrid->setColumnStretch(3, 1);

  auto* timing = new QGroupBox(QStringLiteral("Timing"), this);
  WTOCharDelayEdit = Edit(timing, "WTOCharDelayEdit", "1100");
  WTOExtraDelayEdit = Edit(timing, "WTOExtraDelayEdit", "250");
  RTOCharDelayEdit = Edit(timing, "RTOCharDelayEdit", "1100");
  RTOExtraDelayEdit = Edit(timing, "RTOExtraDelayEdit", "250");
  CBXTOAuto = Check(timing, "CBXTOAuto", "Use default Timing");
  auto* timingGrid = Packed(new QGridLayout(timing), 4);
  timingGrid->addWidget(new QLabel(QStringLiteral("Char Delay (µs)"), timing), 0, 1);
  timingGrid->addWidget(new QLabel(QStringLiteral("Extra Delay (ms)"), timing), 0, 2);
  timingGrid->addWidget(new QLabel(QStringLiteral("Sending"), timing), 1, 0);
  timingGrid->addWidget(WTOCharDelayEdit, 1, 1);
  timingGrid->addWidget(WTOExtraDelayEdit, 1, 2);
  timingGrid->addWidget(new QLabel(QStringLiteral("Receiving"), timing), 2, 0);
  timingGrid->addWidget(RTOCharDelayEdit, 2, 1);
  timingGrid->addWidget(RTOExtraDelayEdit, 2, 2);
  timingGrid->addWidget(CBXTOAuto, 3, 0, 1, 3);

  auto* extended = new QGroupBox(QStringLiteral("Erweitert"), this);
  auto* xonxoff = new QGroupBox(QStringLiteral("XOn - XOff"), extended);
  XOnCharEdit = Edit(xonxoff, "XOnCharEdit", "#11", 48);
  XOffCharEdit = Edit(xonxoff, "XOffCharEdit", "#13", 48);
  XOnLimitEdit = Edit(xonxoff, "XOnLimitEdit", "33", 48);
  XOffLimitEdit = Edit(xonxoff, "XOffLimitEdit", "33", 48);
  auto* xonxoffGrid = Packed(new QGridLayout(xonxoff), 4);
  xonxoffGrid->addWidget(Label(xonxoff, "XOn Char", XOnCharEdit), 0, 0);
  xonxoffGrid->addWidget(XOnCharEdit, 0, 1);
  xonxoffGrid->addWidget(Label(xonxoff, "XOff Char", XOffCharEdit), 1, 0);
  xonxoffGrid->addWidget(XOffCharEdit, 1, 1);
  xonxoffGrid->addWidget(Label(xonxoff, "XOn Limit (%)", XOnLimitEdit), 0, 2);
  xonxoffGrid->addWidget(XOnLimitEdit, 0, 3);
  xonxoffGrid->addWidget(Label(xonxoff, "XOff Limit (%)", XOffLimitEdit), 1, 2);
  xonxoffGrid->addWidget(XOffLimitEdit, 1, 3);

  auto* replacement = new QGroupBox(QStringLiteral("Parity Error Replacement"), extended);
  CBParityErrorReplacement = Check(replacement, "CBParityErrorReplacement", "Active");
  ParityErrorCharEdit = Edit(replacement, "ParityErrorCharEdit", "$ff", 48);
  auto* replacementGrid = Packed(new QGridLayout(replacement), 4);
  replacementGrid->addWidget(CBParityErrorReplacement, 0, 0, 1, 2);
  replacementGrid->addWidget(Label(replacement, "Char", ParityErrorCharEdit), 1, 0);
  replacementGrid->addWidget(ParityErrorCharEdit, 1, 1);

  EventCharEdit = Edit(extended, "EventCharEdit", "$ff", 48);
  CBStripNullChars = Check(extended, "CBStripNullChars", "Remove NULL Chars");
  CBReport = List(extended, "CBReport",
                  {"Nothing", "Errors", "Warnings + Errors", "Debuginfo", "Everything"});
  auto* extendedGrid = Packed(new QGridLayout(extended), 4);
  extendedGrid->addWidget(xonxoff, 0, 0, 1, 3);
  extendedGrid->addWidget(replacement, 1, 0, 3, 1);
  auto* eventRow = new QHBoxLayout;
  eventRow->addWidget(Label(extended, "Eventchar", EventCharEdit));
  eventRow->addWidget(EventCharEdit);
  eventRow->addStretch();
  extendedGrid->addLayout(eventRow, 1, 1, 1, 2);
  extendedGrid->addWidget(CBStripNullChars, 2, 1, 1, 2);
  extendedGrid->addWidget(Label(extended, "Report", CBReport), 3, 1);
  extendedGrid->addWidget(CBReport, 3, 2);
  extendedGrid->setColumnStretch(2, 1);

  MakeStandardButtons();

  ArrangeGroupsAndButtons({basics, timing, extended},
                          {OKBtn, StandardSetzenBtn, StandardLadenBtn, CancelBtn}, 6);
  resize(523, 463);
}

void TDaDudaroDevIza::SetDlgData() {
  const TDaVevureRez& c = Owner;
  // A configured name that is not among the ports found stays as the box's text, so that
  // OK does not turn it into another name or an empty one.
  int port = CBPort->findText(Text(c.ComPort()));
  if (port < 0 && c.ComPort().empty()) port = CBPort->findText(QStringLiteral("COM2"));
  CBPort->setCurrentIndex(port);
  if (port < 0) CBPort->setEditText(Text(c.ComPort()));

  int baud = CBBaud->findText(QString::number(c.BaudRate()));
  if (baud < 0) baud = CBBaud->findText(QStringLiteral("9600"));
  CBBaud->setCurrentIndex(baud);

  int bits = CBData->findText(QString::number(c.DataBits()) + QStringLiteral(" Bits"));
  if (bits < 0) bits = CBData->findText(QStringLiteral("8 Bits"));
  CBData->setCurrentIndex(bits);

  CBParity->setCurrentIndex(c.ParityType() < CBParity->count() ? c.ParityType() : -1);
  CBStop->setCurrentIndex(c.StopBits() < CBStop->count() ? c.StopBits() : -1);

  const auto* flow =
      std::find(std::begin(FlowControlValues), std::end(FlowControlValues), c.FlowControl());
  CBFlow->setCurrentIndex(flow == std::end(FlowControlValues)
                              ? 0
                              : static_cast<int>(flow - std::begin(FlowControlValues)));

  CBOpenPort->setChecked(c.Active());
  WTOCharDelayEdit->setText(QString::number(c.WTOCharDelayTime()));
  RTOCharDelayEdit->setText(QString::number(c.RTOCharDelayTime()));
  WTOExtraDelayEdit->setText(QString::number(c.WTOExtraDelayTime()));
  RTOExtraDelayEdit->setText(QString::number(c.RTOExtraDelayTime()));
  CBXTOAuto->setChecked(c.XTOAuto());

  auto shown = [](char ch) {
    return QString::fromStdU16String(CharDisplayText(static_cast<unsigned char>(ch)));
  };
  XOnCharEdit->setText(shown(c.XONChar()));
  XOffCharEdit->setText(shown(c.XOFFChar()));
  XOnLimitEdit->setText(QString::number(c.XONLimDiv()));
  XOffLimitEdit->setText(QString::number(c.XOFFLimDiv()));
  CBParityErrorReplacement->setChecked(c.ParityErrorReplacement());
  ParityErrorCharEdit->setText(shown(c.ParityErrorChar()));
  CBStripNullChars->setChecked(c.StripNullChars());
  EventCharEdit->setText(shown(c.EventChar()));
  CBReport->setCurrentIndex(std::min<int>(c.ErrorNoise(), CBReport->count() - 1));
}

char TDaDudaroDevIza::CharFrom(const QLineEdit* Edit, char Current) {
  const std::u16string text = Edit->text().toStdU16String();
  // One character beyond U+00FF is no 8-bit character: refused like a number out of range
  // instead of keeping some low bits of it.
  if (text.size() == 1 && text[0] > 0xFF) {
    char message[64];
    std::snprintf(message, sizeof message, "%d ist nicht im Wertebereich 0 - 255",
                  static_cast<int>(text[0]));
    Messages().Show(MessageKind::Error, message);
    return 0;
  }
  return static_cast<char>(ParseCharInput(text, static_cast<unsigned char>(Current), Messages()));
}

void TDaDudaroDevIza::GetDlgData() {
  TDaVevureRez& c = Owner;
  c.SetComPort(CBPort->currentText().toStdString());
  c.SetBaudRate(static_cast<std::uint32_t>(
      NumberOr(CBBaud->currentIndex() >= 0 ? CBBaud->currentText() : QString(), 9600)));
  c.SetDataBits(static_cast<std::uint8_t>(
      NumberOr(CBData->currentIndex() >= 0 ? CBData->currentText().left(1) : QString(), 8)));
  c.SetStopBits(IndexByte(CBStop));
  c.SetParityType(IndexByte(CBParity));
  const int flow = CBFlow->currentIndex();
  c.SetFlowControl(flow >= 0 && flow < static_cast<int>(std::size(FlowControlValues))
                       ? FlowControlValues[flow]
                       : 0);
  c.SetXTOAuto(CBXTOAuto->isChecked());
  if (!CBXTOAuto->isChecked()) {
    auto time = [](const QLineEdit* edit) {
      return static_cast<std::uint32_t>(WholeNumber(edit, 0, UINT32_MAX));
    };
    c.SetWTOCharDelayTime(time(WTOCharDelayEdit));
    c.SetRTOCharDelayTime(time(RTOCharDelayEdit));
    c.SetWTOExtraDelayTime(time(WTOExtraDelayEdit));
    c.SetRTOExtraDelayTime(time(RTOExtraDelayEdit));
  }
  c.SetXONChar(CharFrom(XOnCharEdit, c.XONChar()));
  c.SetXOFFChar(CharFrom(XOffCharEdit, c.XOFFChar()));
  // One byte each, so a number beyond 255 is refused rather than cut to its low 8 bits; the
  // setter limits the rest to 100.
  c.SetXONLimDiv(static_cast<std::uint8_t>(WholeNumber(XOnLimitEdit, 0, UINT8_MAX)));
  c.SetXOFFLimDiv(static_cast<std::uint8_t>(WholeNumber(XOffLimitEdit, 0, UINT8_MAX)));
  c.SetParityErrorReplacement(CBParityErrorReplacement->isChecked());
  c.SetParityErrorChar(CharFrom(ParityErrorCharEdit, c.ParityErrorChar()));
  c.SetEventChar(CharFrom(EventCharEdit, c.EventChar()));
  c.SetStripNullChars(CBStripNullChars->isChecked());
  c.SetErrorNoise(IndexByte(CBReport));
  c.SetActive(CBOpenPort->isChecked());
}

void TDaDudaroDevIza::ValidateCharInput(QLineEdit* Sender) {
  Applied([&] { ParseCharInput(Sender->text().toStdU16String(), 0, Messages()); });
}

void TDaDudaroDevIza::ValidateInteger(QLineEdit* Sender) {
  if (Sender->text().isEmpty())
    Messages().Show(MessageKind::Error, "Ungültige Eingabe. Leer lassen für alten Wert!");
}

void InstallDaDudaroDevIza(platform::UserMessages* messages) {
  TDaVevureRez::SettingsDialog = [messages](TDaVevureRez& component) {
    TDaDudaroDevIza dialog(component, platform::SettingsDialogBase::ParentForNext(), messages);
    dialog.exec();
  };
}

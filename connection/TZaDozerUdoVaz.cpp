#include "connection/TZaDozerUdoVaz.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "serial/TDaDudaroDevIza.h"
#include "serial/TDaVevureRez.h"

namespace {

QComboBox* Combo(QWidget* parent, const char* name, std::initializer_list<const char*> items) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  for (const char* item : items) box->addItem(QString::fromUtf8(item));
  box->setFixedWidth(145);
  return box;
}

QLineEdit* Edit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  return edit;
}

// The chosen entry: the one whose text stands in the box. Typed text that is no entry
// chooses none (-1), whatever was chosen before.
int Chosen(const QComboBox* box) {
  const int index = box->currentIndex();
  if (index >= 0 && box->itemText(index) == box->currentText()) return index;
  return box->findText(box->currentText());
}

}  // namespace

TZaDozerUdoVaz::TZaDozerUdoVaz(TDoVuverUve& AOwner, QWidget* parent,
                               platform::UserMessages* messages)
    : SettingsDialogBase(parent, messages), Owner(AOwner) {
  setWindowTitle(QStringLiteral("DoVuverUve Einstellungen"));

  auto* basics = new QGroupBox(QStringLiteral("Grundeinstellungen"), this);
  Schnittstelle = Combo(basics, "Schnittstelle", {"Seriell"});
  Anschluss = Combo(basics, "Anschluss", {"Transparent", "Modem"});
  Verbindung = new QCheckBox(QStringLiteral("Verbindung"), basics);
  Verbindung->setObjectName("Verbindung");
  auto* basicsGrid = Packed(new QGridLayout(basics));
  basicsGrid->addWidget(Label(basics, "Schnittstelle", Schnittstelle), 0, 0);
  basicsGrid->addWidget(Schnittstelle, 1, 0);
  basicsGrid->addWidget(Label(basics, "Anschluss", Anschluss), 2, 0);
  basicsGrid->addWidget(Anschluss, 3, 0);
  basicsGrid->addWidget(Verbindung, 3, 1);
  basicsGrid->setColumnStretch(1, 1);
  basicsGrid->setColumnMinimumWidth(0, 168);

  auto* serial = new QGroupBox(QStringLiteral("Serielle Schnittstelle"), this);
  RxDCharDelay = Edit(serial, "RxDCharDelay");
  RxDCharDelay->setFixedWidth(121);
  DaVevureRezBtn = new QPushButton(QStringLiteral("Einstellungen"), serial);
  DaVevureRezBtn->setObjectName("DaVevureRezBtn");
  DaVevureRezBtn->setMinimumWidth(155);
  DaVevureRezBtn->setAutoDefault(false);
  auto* serialGrid = Packed(new QGridLayout(serial));
  serialGrid->addWidget(Label(serial, "RxDCharDelay(ms)", RxDCharDelay), 0, 0);
  serialGrid->addWidget(RxDCharDelay, 1, 0);
  serialGrid->addWidget(DaVevureRezBtn, 1, 1, Qt::AlignLeft);
  serialGrid->setColumnStretch(1, 1);
  serialGrid->setColumnMinimumWidth(0, 168);

  auto* modem = new QGroupBox(QStringLiteral("Modem"), this);
  TeleNummer = Edit(modem, "TeleNummer");
  TeleNummer->setFixedWidth(121);
  Wahlverfahren = Combo(modem, "Wahlverfahren", {"Ton", "Impuls"});
  ResetModem =
      new QCheckBox(QStringLiteral("Modem auf Werkseinstellung vor Initialisierung"), modem);
  ResetModem->setObjectName("ResetModem");
  IniString = Edit(modem, "IniString");
  auto* modemGrid = Packed(new QGridLayout(modem));
  modemGrid->addWidget(Label(modem, "Telefonnummer", TeleNummer), 0, 0);
  modemGrid->addWidget(TeleNummer, 1, 0);
  modemGrid->addWidget(Label(modem, "Wahlverfahren", Wahlverfahren), 0, 1);
  modemGrid->addWidget(Wahlverfahren, 1, 1, Qt::AlignLeft);
  modemGrid->addWidget(ResetModem, 2, 0, 1, 2);
  modemGrid->addWidget(Label(modem, "IniString", IniString), 3, 0);
  modemGrid->addWidget(IniString, 4, 0, 1, 2);
  modemGrid->setColumnStretch(1, 1);
  modemGrid->setColumnMinimumWidth(0, 168);

  MakeStandardButtons();
  connect(DaVevureRezBtn, &QPushButton::clicked, this, [this] { DaVevureRezBtnClick(); });

  ArrangeGroupsAndButtons({basics, serial, modem},
                          {OKBtn, StandardSetzenBtn, StandardLadenBtn, CancelBtn});
  resize(521, 303);
}

void TZaDozerUdoVaz::SetDlgData() {
  const TDoVuverUve& c = Owner;
  Schnittstelle->setCurrentIndex(0);
  Anschluss->setCurrentIndex(c.AnschlussTyp() == TAnschlussTyp::astModem ? 1 : 0);
  RxDCharDelay->setText(QString::number(c.RxDCharTime()));
  Wahlverfahren->setCurrentIndex(c.Wahlverfahren() == TWahlverfahren::wvfImpuls ? 1 : 0);
  IniString->setText(QString::fromStdString(c.IniString()));
  ResetModem->setChecked(c.ResetModem());
  TeleNummer->setText(QString::fromStdString(c.TeleNummer()));
  Verbindung->setChecked(c.Active());
}

void TZaDozerUdoVaz::GetDlgData() {
  TDoVuverUve& c = Owner;
  c.SetPCSchnittstelle(TPCSchnittstellenTyp::pcstSeriell);
  c.SetAnschlussTyp(Chosen(Anschluss) == 1 ? TAnschlussTyp::astModem : TAnschlussTyp::astDirekt);
  c.SetRxDCharTime(static_cast<std::int32_t>(WholeNumber(RxDCharDelay, INT32_MIN, INT32_MAX)));
  c.SetWahlverfahren(Chosen(Wahlverfahren) == 1 ? TWahlverfahren::wvfImpuls
                                                : TWahlverfahren::wvfTon);
  c.SetIniString(IniString->text().toStdString());
  c.SetResetModem(ResetModem->isChecked());
  c.SetTeleNummer(TeleNummer->text().toStdString());
  c.SetActive(Verbindung->isChecked());
}

void TZaDozerUdoVaz::DaVevureRezBtnClick() {
  if (TDaVevureRez* serial = Owner.DaVevureRez()) serial->ExecuteDlg();
}

void InstallZaDozerUdoVaz(platform::UserMessages* messages) {
  InstallDaDudaroDevIza(messages);
  TDoVuverUve::SettingsDialog = [messages](TDoVuverUve& component) {
    TZaDozerUdoVaz dialog(component, platform::SettingsDialogBase::ParentForNext(), messages);
    dialog.exec();
  };
}

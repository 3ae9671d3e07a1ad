#include "protocol/TVeDerudezodAraDuz.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "connection/TZaDozerUdoVaz.h"

namespace {

QComboBox* List(QWidget* parent, const char* name, std::initializer_list<const char*> items) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  for (const char* item : items) box->addItem(QString::fromUtf8(item));
  box->setFixedWidth(145);
  return box;
}

}  // namespace

TVeDerudezodAraDuz::TVeDerudezodAraDuz(TRiVadaroverEza& AOwner, QWidget* parent,
                                       platform::UserMessages* messages)
    : SettingsDialogBase(parent, messages), Owner(AOwner) {
  setWindowTitle(QStringLiteral("RiVadaroverEza Einstellungen"));

  auto* group1 = new QGroupBox(QStringLiteral("Grundeinstellungen"), this);
  group1->setObjectName("GroupBox1");
  Verbindung = List(group1, "Verbindung", {"Modem"});
  Protokoll = List(group1, "Protokoll", {"Kein", "3964R", "3964R/Plus"});
  Protokoll->setCurrentIndex(2);
  Aktiv = new QCheckBox(QStringLiteral("Verbindung Aktiv"), group1);
  Aktiv->setObjectName("Aktiv");
  auto* grid1 = Packed(new QGridLayout(group1));
  grid1->addWidget(Label(group1, "Verbindung über", Verbindung, "Label5"), 0, 0);
  grid1->addWidget(Verbindung, 1, 0);
  grid1->addWidget(Label(group1, "Protokoll", Protokoll, "Label2"), 0, 1);
  grid1->addWidget(Protokoll, 1, 1);
  grid1->addWidget(Aktiv, 2, 0, 1, 2);
  grid1->setColumnStretch(2, 1);

  auto* group2 = new QGroupBox(QStringLiteral("Protokoll 3964R"), this);
  group2->setObjectName("GroupBox2");
  WaitForAnswer3964R = new QLineEdit(QStringLiteral("1000"), group2);
  WaitForAnswer3964R->setObjectName("WaitForAnswer3964R");
  WaitForAnswer3964R->setFixedWidth(145);
  auto* grid2 = Packed(new QGridLayout(group2));
  grid2->addWidget(Label(group2, "Antwortzeit (ms)", WaitForAnswer3964R, "Label1"), 0, 0);
  grid2->addWidget(WaitForAnswer3964R, 1, 0);
  grid2->setColumnStretch(1, 1);

  auto* group3 = new QGroupBox(QStringLiteral("Protokoll 3964R/Plus"), this);
  group3->setObjectName("GroupBox3");
  BlockModeSendRequest = new QCheckBox(QStringLiteral("BlockModeSendRequest"), group3);
  BlockModeSendRequest->setObjectName("BlockModeSendRequest");
  auto* grid3 = Packed(new QGridLayout(group3));
  grid3->addWidget(BlockModeSendRequest, 0, 0);

  MakeStandardButtons();
  Einstellungen = new QPushButton(QStringLiteral("Erw. Einstellungen"), this);
  Einstellungen->setObjectName("Einstellungen");
  Einstellungen->setAutoDefault(false);
  connect(Einstellungen, &QPushButton::clicked, this, [this] { EinstellungenClick(); });

  ArrangeGroupsAndButtons({group1, group2, group3},
                          {OKBtn, StandardSetzenBtn, StandardLadenBtn, CancelBtn, Einstellungen});
  resize(521, 252);
}

void TVeDerudezodAraDuz::SetDlgData() {
  const TRiVadaroverEza& c = Owner;
  Verbindung->setCurrentIndex(0);
  Protokoll->setCurrentIndex(c.Protokoll() == TProtokoll::pNone    ? 0
                             : c.Protokoll() == TProtokoll::p3964R ? 1
                                                                   : 2);
  WaitForAnswer3964R->setText(QString::number(c.WaitForAnswer3964R()));
  BlockModeSendRequest->setChecked(c.P3964RPBlockModeSendRequest());
  Aktiv->setChecked(c.Active());
}

void TVeDerudezodAraDuz::GetDlgData() {
  TRiVadaroverEza& c = Owner;
  c.SetVerbindung(TVerbindungsTyp::vbtModem);
  const int protokoll = Protokoll->currentIndex();
  c.SetProtokoll(protokoll == 0   ? TProtokoll::pNone
                 : protokoll == 1 ? TProtokoll::p3964R
                                  : TProtokoll::p3964RPlus);
  // Below 1 ms the answer timer would never tick; refused like any text that is no answer time.
  c.SetWaitForAnswer3964R(static_cast<std::int32_t>(WholeNumber(WaitForAnswer3964R, 1, INT32_MAX)));
  c.SetP3964RPBlockModeSendRequest(BlockModeSendRequest->isChecked());
  c.SetActive(Aktiv->isChecked());
}

void TVeDerudezodAraDuz::EinstellungenClick() {
  if (TDoVuverUve* line = Owner.DoVuverUve()) line->ExecuteDlg();
}

void InstallVeDerudezodAraDuz(platform::UserMessages* messages) {
  InstallZaDozerUdoVaz(messages);
  TRiVadaroverEza::SettingsDialog = [messages](TRiVadaroverEza& component) {
    TVeDerudezodAraDuz dialog(component, platform::SettingsDialogBase::ParentForNext(), messages);
    dialog.exec();
  };
}

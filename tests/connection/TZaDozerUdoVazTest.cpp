// The connection settings dialog offscreen: filling, applying through the setters (which
// switch the line), free text in the combo boxes, the conversion error, the buttons and the
// serial dialog opened from here.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include "connection/TZaDozerUdoVaz.h"
#include "serial/TDaDudaroDevIza.h"
#include "tests/serial/FakePortFixture.h"
#include "tests/support/QtTestApp.h"
#include "tests/support/SettingsStores.h"

using platform::MessageKind;
using Strings = std::vector<std::string>;
using qt_test::Items;

namespace {

class ConnectionDialog : public serial_test::FakePortFixture {
 protected:
  void SetUp() override {
    FakePortFixture::SetUp();
    com->SetErrorNoise(0);
    line = std::make_unique<TDoVuverUve>(&owner, loop);
    line->SetDaVevureRez(com.get());
    line->SetRegistry(&store);
    line->OnConnectEvent = [this](TObject*) { events.push_back("Connect"); };
    line->OnDisconnectEvent = [this](TObject*) { events.push_back("Disconnect"); };
  }
  void TearDown() override {
    dialog.reset();
    TDoVuverUve::SettingsDialog = nullptr;
    TDaVevureRez::SettingsDialog = nullptr;
    line.reset();
    FakePortFixture::TearDown();
  }

  TZaDozerUdoVaz& Show() {
    dialog = std::make_unique<TZaDozerUdoVaz>(*line, nullptr, &messages);
    dialog->show();
    return *dialog;
  }
  void Connect() {
    auto port = ports.Add("/dev/COM2");
    line->SetActive(true);
    ASSERT_TRUE(line->Connected());
    Settle(*port);
  }
  static void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  platform::MemoryRegistry store;
  platform::RecordingMessages messages;
  std::unique_ptr<TDoVuverUve> line;
  std::unique_ptr<TZaDozerUdoVaz> dialog;
};

}  // namespace

TEST_F(ConnectionDialog, CaptionGroupsItemsAndButtons) {
  TZaDozerUdoVaz& d = Show();
  EXPECT_EQ(d.windowTitle().toStdString(), "DoVuverUve Einstellungen");
  Strings groups;
  for (const auto* g : d.findChildren<QGroupBox*>()) groups.push_back(g->title().toStdString());
  EXPECT_EQ(groups, (Strings{"Grundeinstellungen", "Serielle Schnittstelle", "Modem"}));
  EXPECT_EQ(Items(d.Schnittstelle), (Strings{"Seriell"}));
  EXPECT_EQ(Items(d.Anschluss), (Strings{"Transparent", "Modem"}));
  EXPECT_EQ(Items(d.Wahlverfahren), (Strings{"Ton", "Impuls"}));
  Strings labels;
  for (const auto* l : d.findChildren<QLabel*>()) labels.push_back(l->text().toStdString());
  EXPECT_EQ(labels, (Strings{"Schnittstelle", "Anschluss", "RxDCharDelay(ms)", "Telefonnummer",
                             "Wahlverfahren", "IniString"}));
  Strings captions;
  for (const QAbstractButton* b : std::initializer_list<QAbstractButton*>{
           d.Verbindung, d.DaVevureRezBtn, d.ResetModem, d.OKBtn, d.StandardSetzenBtn,
           d.StandardLadenBtn, d.CancelBtn})
    captions.push_back(b->text().toStdString());
  EXPECT_EQ(captions, (Strings{"Verbindung", "Einstellungen",
                               "Modem auf Werkseinstellung vor Initialisierung", "OK",
                               "Standard Setzen", "Standard Laden", "Cancel"}));
}

TEST_F(ConnectionDialog, ShowsTheComponentAndOkOnAnOpenLineClosesAndReopensIt) {
  line->SetWahlverfahren(TWahlverfahren::wvfImpuls);
  line->SetRxDCharTime(120);
  line->SetTeleNummer("0049 30 1234");
  line->SetIniString("ATX3 Prüfung");
  line->SetResetModem(false);
  Connect();
  events.clear();
  TZaDozerUdoVaz& d = Show();
  EXPECT_EQ(d.Schnittstelle->currentText().toStdString(), "Seriell");
  EXPECT_EQ(d.Anschluss->currentText().toStdString(), "Transparent");
  EXPECT_EQ(d.Wahlverfahren->currentText().toStdString(), "Impuls");
  EXPECT_EQ(d.RxDCharDelay->text().toStdString(), "120");
  EXPECT_EQ(d.TeleNummer->text().toStdString(), "0049 30 1234");
  EXPECT_EQ(d.IniString->text().toStdString(), "ATX3 Prüfung");
  EXPECT_FALSE(d.ResetModem->isChecked());
  EXPECT_TRUE(d.Verbindung->isChecked());

  ports.Add("/dev/COM2");
  Click(d.OKBtn);
  EXPECT_EQ(d.result(), platform::mrOk);
  EXPECT_EQ(events, (Strings{"Disconnect", "Connect"}));
  EXPECT_TRUE(line->Connected());
  EXPECT_EQ(line->IniString(), "ATX3 Prüfung");
  EXPECT_EQ(line->Wahlverfahren(), TWahlverfahren::wvfImpuls);
  Settle(*ports.Port("/dev/COM2"));

  // Unticked, OK leaves the line off.
  Show();
  dialog->Verbindung->setChecked(false);
  Click(dialog->OKBtn);
  EXPECT_FALSE(line->Active());
  EXPECT_FALSE(com->Active());
}

TEST_F(ConnectionDialog, TypedTextCountsAsTheFirstItemAValueOutsideShowsTheFirst) {
  line->SetAnschlussTyp(static_cast<TAnschlussTyp>(5));
  TZaDozerUdoVaz& d = Show();
  EXPECT_EQ(d.Anschluss->currentText().toStdString(), "Transparent");
  d.Anschluss->setCurrentIndex(1);
  d.Wahlverfahren->setCurrentIndex(1);
  QTest::keyClicks(d.Anschluss, "x");  // "Modemx"
  d.Wahlverfahren->setEditText("Impuls");
  d.Schnittstelle->setEditText("USB");
  Click(d.OKBtn);
  EXPECT_EQ(line->AnschlussTyp(), TAnschlussTyp::astDirekt);
  EXPECT_EQ(line->Wahlverfahren(), TWahlverfahren::wvfImpuls) << "the entry's own text";
  EXPECT_EQ(line->PCSchnittstelle(), TPCSchnittstellenTyp::pcstSeriell);

  Show();
  dialog->Anschluss->setEditText("Modem");
  Click(dialog->OKBtn);
  EXPECT_EQ(line->AnschlussTyp(), TAnschlussTyp::astModem);
}

TEST_F(ConnectionDialog, DelayThatIsNoNumberKeepsTheDialogOpenAfterTheLineWasClosed) {
  Connect();
  events.clear();
  TZaDozerUdoVaz& d = Show();
  d.Anschluss->setCurrentIndex(1);
  d.RxDCharDelay->setText("2,5");
  d.TeleNummer->setText("110");
  Click(d.OKBtn);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].kind, MessageKind::Error);
  EXPECT_EQ(messages.shown[0].text, "'2,5' ist kein gültiger Integerwert");
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.result(), platform::mrNone);
  EXPECT_EQ(events, (Strings{"Disconnect"})) << "the line was closed before the failure";
  EXPECT_EQ(line->AnschlussTyp(), TAnschlussTyp::astModem);
  EXPECT_EQ(line->TeleNummer(), "") << "not reached";

  Click(d.StandardSetzenBtn);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(store.WriteCount(), 0) << "nothing stored";
}

TEST_F(ConnectionDialog, StandardSetzenStoresStandardLadenLoadsCancelKeeps) {
  TZaDozerUdoVaz& d = Show();
  d.TeleNummer->setText("0301234");
  d.Verbindung->setChecked(true);
  ports.Add("/dev/COM2");
  Click(d.StandardSetzenBtn);
  EXPECT_EQ(d.result(), platform::mrYes);
  const char* key = "Software\\Quenzhal\\DoVuverUveDefaultSettings";
  EXPECT_EQ(settings_test::Stored(store, key, "TeleNummer"), "0301234");
  EXPECT_EQ(settings_test::Stored(store, key, "Active"), "1");
  Settle(*ports.Port("/dev/COM2"));

  line->SetTeleNummer("999");
  line->SetActive(false);
  Show();
  dialog->TeleNummer->setText("not applied");
  ports.Add("/dev/COM2");
  Click(dialog->StandardLadenBtn);
  EXPECT_EQ(dialog->result(), platform::mrNo);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(line->TeleNummer(), "0301234");
  EXPECT_TRUE(line->Connected()) << "switched as the stored Active says";
  Settle(*ports.Port("/dev/COM2"));

  Show();
  dialog->TeleNummer->setText("not applied");
  Click(dialog->CancelBtn);
  EXPECT_EQ(dialog->result(), platform::mrCancel);
  EXPECT_EQ(line->TeleNummer(), "0301234");
}

TEST_F(ConnectionDialog, EinstellungenOpensTheSerialDialogAndCancelKeepsWhatItDid) {
  InstallZaDozerUdoVaz(&messages);
  TZaDozerUdoVaz& d = Show();
  QWidget* serial_parent = nullptr;
  QTimer::singleShot(0, [&] {
    auto* serial = dynamic_cast<TDaDudaroDevIza*>(QApplication::activeModalWidget());
    ASSERT_NE(serial, nullptr);
    serial_parent = serial->parentWidget();
    serial->CBBaud->setCurrentText("4800");
    QTest::mouseClick(serial->OKBtn, Qt::LeftButton);
  });
  Click(d.DaVevureRezBtn);
  EXPECT_EQ(serial_parent, &d) << "opened over this dialog";
  EXPECT_TRUE(d.isVisible()) << "this dialog stays open";
  EXPECT_EQ(com->BaudRate(), 4800u);
  Click(d.CancelBtn);
  EXPECT_EQ(d.result(), platform::mrCancel);
  EXPECT_EQ(com->BaudRate(), 4800u);

  // Without a serial component the button does nothing.
  TDoVuverUve bare(&owner, loop);
  TZaDozerUdoVaz lone(bare, nullptr, &messages);
  lone.show();
  Click(lone.DaVevureRezBtn);
  EXPECT_TRUE(lone.isVisible());
}

// The protocol settings dialog offscreen, and the chain of the three dialogs.
#include <QGroupBox>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include "connection/TZaDozerUdoVaz.h"
#include "protocol/TVeDerudezodAraDuz.h"
#include "serial/TDaDudaroDevIza.h"
#include "tests/protocol/KomponentenFixture.h"
#include "tests/support/QtTestApp.h"
#include "tests/support/SettingsStores.h"

using platform::MessageKind;
using Strings = std::vector<std::string>;

namespace {

class ProtocolDialog : public Komponente {
 protected:
  ProtocolDialog() {
    p.SetDoVuverUve(&line);
    p.SetRegistry(&store);
    p.OnModemConnectEvent = [this](TObject*) { switches.push_back("Connect"); };
    p.OnModemDisconnectEvent = [this](TObject*) { switches.push_back("Disconnect"); };
  }
  ~ProtocolDialog() override {
    dialog.reset();
    TRiVadaroverEza::SettingsDialog = nullptr;
    TDoVuverUve::SettingsDialog = nullptr;
    TDaVevureRez::SettingsDialog = nullptr;
  }

  TVeDerudezodAraDuz& Show() {
    dialog = std::make_unique<TVeDerudezodAraDuz>(p, nullptr, &messages);
    dialog->show();
    return *dialog;
  }
  static void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  platform::MemoryRegistry store;
  platform::RecordingMessages messages;
  std::unique_ptr<TVeDerudezodAraDuz> dialog;
  Strings switches;
};

}  // namespace

TEST_F(ProtocolDialog, CaptionGroupsItemsAndButtonsInOrder) {
  TVeDerudezodAraDuz& d = Show();
  EXPECT_EQ(d.windowTitle().toStdString(), "RiVadaroverEza Einstellungen");
  Strings groups;
  for (const auto* g : d.findChildren<QGroupBox*>()) groups.push_back(g->title().toStdString());
  EXPECT_EQ(groups, (Strings{"Grundeinstellungen", "Protokoll 3964R", "Protokoll 3964R/Plus"}));
  Strings labels;
  for (const auto* l : d.findChildren<QLabel*>()) labels.push_back(l->text().toStdString());
  EXPECT_EQ(labels, (Strings{"Verbindung über", "Protokoll", "Antwortzeit (ms)"}));
  EXPECT_EQ(d.Verbindung->count(), 1);
  EXPECT_EQ(d.Verbindung->itemText(0).toStdString(), "Modem");
  ASSERT_EQ(d.Protokoll->count(), 3);
  EXPECT_EQ(d.Protokoll->itemText(0).toStdString(), "Kein");
  EXPECT_EQ(d.Protokoll->itemText(1).toStdString(), "3964R");
  EXPECT_EQ(d.Protokoll->itemText(2).toStdString(), "3964R/Plus");
  EXPECT_EQ(d.Aktiv->text().toStdString(), "Verbindung Aktiv");
  EXPECT_EQ(d.BlockModeSendRequest->text().toStdString(), "BlockModeSendRequest");
  // The buttons stand top to bottom in this order.
  Strings order;
  int last_y = -1;
  for (QPushButton* b :
       {d.OKBtn, d.StandardSetzenBtn, d.StandardLadenBtn, d.CancelBtn, d.Einstellungen}) {
    order.push_back(b->text().toStdString());
    EXPECT_GT(b->y(), last_y);
    last_y = b->y();
  }
  EXPECT_EQ(order,
            (Strings{"OK", "Standard Setzen", "Standard Laden", "Cancel", "Erw. Einstellungen"}));
}

TEST_F(ProtocolDialog, StreamAndHdlcShow3964RPlusWhichOkStores) {
  for (TProtokoll shown : {TProtokoll::pHDLCNRM, TProtokoll::p3964RStream}) {
    p.SetProtokoll(shown);
    p.SetWaitForAnswer3964R(1500);
    p.SetP3964RPBlockModeSendRequest(true);
    TVeDerudezodAraDuz& d = Show();
    EXPECT_EQ(d.Protokoll->currentText().toStdString(), "3964R/Plus");
    EXPECT_EQ(d.WaitForAnswer3964R->text().toStdString(), "1500");
    EXPECT_TRUE(d.BlockModeSendRequest->isChecked());
    Click(d.OKBtn);
    EXPECT_EQ(d.result(), platform::mrOk);
    EXPECT_EQ(p.Protokoll(), TProtokoll::p3964RPlus);
  }
}

TEST_F(ProtocolDialog, AnotherProtocolDeactivatesFirstAndAktivActivatesAgain) {
  Start(TProtokoll::p3964R);
  switches.clear();
  TVeDerudezodAraDuz& d = Show();
  EXPECT_TRUE(d.Aktiv->isChecked());
  EXPECT_EQ(d.Protokoll->currentText().toStdString(), "3964R");
  d.Protokoll->setCurrentIndex(0);
  Click(d.OKBtn);
  EXPECT_EQ(p.Protokoll(), TProtokoll::pNone);
  EXPECT_EQ(switches, (Strings{"Disconnect", "Connect"}));
  EXPECT_TRUE(p.Active());

  // The same protocol and Aktiv unticked: only the switching off.
  switches.clear();
  Show();
  dialog->Aktiv->setChecked(false);
  Click(dialog->OKBtn);
  EXPECT_EQ(switches, (Strings{"Disconnect"}));
  EXPECT_FALSE(p.Active());
}

TEST_F(ProtocolDialog, AnswerTimeThatIsNoNumberKeepsTheDialogOpen) {
  Start(TProtokoll::p3964R, 1200);
  TVeDerudezodAraDuz& d = Show();
  d.Protokoll->setCurrentIndex(2);
  d.WaitForAnswer3964R->setText("zwei");
  d.BlockModeSendRequest->setChecked(true);
  Click(d.OKBtn);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].kind, MessageKind::Error);
  EXPECT_EQ(messages.shown[0].text, "'zwei' ist kein gültiger Integerwert");
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.result(), platform::mrNone);
  EXPECT_EQ(p.Protokoll(), TProtokoll::p3964RPlus) << "written before the failure";
  EXPECT_FALSE(p.Active()) << "the new protocol switched it off, Aktiv was not reached";
  EXPECT_EQ(p.WaitForAnswer3964R(), 1200);
  EXPECT_FALSE(p.P3964RPBlockModeSendRequest());
}

TEST_F(ProtocolDialog, StandardSetzenAndStandardLaden) {
  TVeDerudezodAraDuz& d = Show();
  d.Protokoll->setCurrentIndex(1);
  d.WaitForAnswer3964R->setText("2000");
  Click(d.StandardSetzenBtn);
  EXPECT_EQ(d.result(), platform::mrYes);
  const char* key = "Software\\Quenzhal\\RiVadaroverEzaDefaultSettings";
  EXPECT_EQ(settings_test::Stored(store, key, "Protokoll"), "1");
  EXPECT_EQ(settings_test::Stored(store, key, "WaitForAnswer3964R"), "2000");

  p.SetProtokoll(TProtokoll::pNone);
  Show();
  dialog->WaitForAnswer3964R->setText("not applied");
  Click(dialog->StandardLadenBtn);
  EXPECT_EQ(dialog->result(), platform::mrNo);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(p.Protokoll(), TProtokoll::p3964R);
  EXPECT_EQ(p.WaitForAnswer3964R(), 2000);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(ProtocolDialog, TheChainOpensDownwardAndCancelKeepsWhatTheLowerDialogsDid) {
  InstallVeDerudezodAraDuz(&messages);
  Serial();  // the line's serial component
  Strings seen;
  QWidget* connection_parent = nullptr;
  QWidget* serial_parent = nullptr;
  QWidget* top_dialog = nullptr;
  QWidget* middle_dialog = nullptr;
  QTimer::singleShot(0, [&] {
    auto* top = dynamic_cast<TVeDerudezodAraDuz*>(QApplication::activeModalWidget());
    ASSERT_NE(top, nullptr);
    seen.push_back(top->windowTitle().toStdString());
    top_dialog = top;
    QTimer::singleShot(0, [&, top] {
      auto* middle = dynamic_cast<TZaDozerUdoVaz*>(QApplication::activeModalWidget());
      ASSERT_NE(middle, nullptr);
      seen.push_back(middle->windowTitle().toStdString());
      connection_parent = middle->parentWidget();
      middle_dialog = middle;
      QTimer::singleShot(0, [&, middle] {
        auto* bottom = dynamic_cast<TDaDudaroDevIza*>(QApplication::activeModalWidget());
        ASSERT_NE(bottom, nullptr);
        seen.push_back(bottom->windowTitle().toStdString());
        serial_parent = bottom->parentWidget();
        bottom->CBBaud->setCurrentText("57600");
        QTest::mouseClick(bottom->OKBtn, Qt::LeftButton);
        QTimer::singleShot(0, [middle] {
          middle->TeleNummer->setText("0800 111");
          QTest::mouseClick(middle->OKBtn, Qt::LeftButton);
        });
      });
      QTest::mouseClick(middle->DaVevureRezBtn, Qt::LeftButton);
      QTimer::singleShot(0, [top] {
        top->Protokoll->setCurrentIndex(0);
        QTest::mouseClick(top->CancelBtn, Qt::LeftButton);
      });
    });
    QTest::mouseClick(top->Einstellungen, Qt::LeftButton);
  });
  p.SetProtokoll(TProtokoll::p3964R);
  p.ExecuteDlg();
  EXPECT_EQ(seen, (Strings{"RiVadaroverEza Einstellungen", "DoVuverUve Einstellungen",
                           "DaVevureRez Einstellungen"}));
  EXPECT_EQ(connection_parent, top_dialog) << "each dialog opens over the one above";
  EXPECT_EQ(serial_parent, middle_dialog);
  EXPECT_EQ(Serial().BaudRate(), 57600u);
  EXPECT_EQ(line.TeleNummer(), "0800 111");
  EXPECT_EQ(p.Protokoll(), TProtokoll::p3964R) << "Cancel wrote nothing";
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

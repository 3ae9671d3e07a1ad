// The serial settings dialog offscreen: filling from the component, applying in order
// through the setters, the failure that keeps the dialog open, the buttons' results and
// the default settings.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include "serial/TDaDudaroDevIza.h"
#include "tests/serial/FakePortFixture.h"
#include "tests/support/QtTestApp.h"
#include "tests/support/SettingsStores.h"

using platform::MessageKind;
using Strings = std::vector<std::string>;
using qt_test::Items;

namespace {

std::string Selected(const QComboBox* box) {
  return box->currentIndex() < 0 ? "<none>" : box->currentText().toStdString();
}

class SerialDialog : public serial_test::FakePortFixture {
 protected:
  void SetUp() override {
    FakePortFixture::SetUp();
    com->SetRegistry(&store);
  }
  void TearDown() override {
    dialog.reset();
    TDaVevureRez::SettingsDialog = nullptr;
    FakePortFixture::TearDown();
  }

  // Shows the dialog for `com` (which fills it) with the given port box entries.
  TDaDudaroDevIza& Show(Strings port_list = {"/dev/ttyS0", "/dev/ttyUSB0", "COM2"}) {
    dialog = std::make_unique<TDaDudaroDevIza>(*com, nullptr, &messages, std::move(port_list));
    dialog->show();
    return *dialog;
  }
  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

  platform::MemoryRegistry store;
  platform::RecordingMessages messages;
  std::unique_ptr<TDaDudaroDevIza> dialog;
};

}  // namespace

TEST_F(SerialDialog, CaptionGroupsItemListsAndButtons) {
  TDaDudaroDevIza& d = Show({"ttyUSB1", "/dev/ttyS0", "COM10", "com2"});
  EXPECT_EQ(d.windowTitle().toStdString(), "DaVevureRez Einstellungen");
  Strings groups;
  for (const auto* group : d.findChildren<QGroupBox*>())
    groups.push_back(group->title().toStdString());
  EXPECT_EQ(groups, (Strings{"Grundeinstellungen", "Timing", "Erweitert", "XOn - XOff",
                             "Parity Error Replacement"}));
  EXPECT_EQ(Items(d.CBPort), (Strings{"/dev/ttyS0", "COM10", "com2", "ttyUSB1"}))
      << "sorted without regard to case";
  EXPECT_EQ(Items(d.CBParity), (Strings{"None (*)", "Odd", "Even", "Mark", "Space"}));
  EXPECT_EQ(Items(d.CBData), (Strings{"4 Bits", "5 Bits", "6 Bits", "7 Bits", "8 Bits"}));
  EXPECT_EQ(Items(d.CBBaud),
            (Strings{"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
                     "56000", "57600", "115200", "128000", "256000"}));
  EXPECT_EQ(Items(d.CBFlow), (Strings{"None (*)", "XOn-XOff", "RTS-CTS", "DSR-DTR", "VuVadudeva"}));
  EXPECT_EQ(Items(d.CBStop), (Strings{"1 Bit (*)", "1,5 Bits", "2 Bits"}));
  EXPECT_EQ(Items(d.CBReport),
            (Strings{"Nothing", "Errors", "Warnings + Errors", "Debuginfo", "Everything"}));
  Strings captions;
  for (const QAbstractButton* b : std::initializer_list<QAbstractButton*>{
           d.CBOpenPort, d.CBXTOAuto, d.CBParityErrorReplacement, d.CBStripNullChars, d.OKBtn,
           d.StandardSetzenBtn, d.StandardLadenBtn, d.CancelBtn})
    captions.push_back(b->text().toStdString());
  EXPECT_EQ(captions, (Strings{"OpenPort", "Use default Timing", "Active", "Remove NULL Chars",
                               "OK", "Standard Setzen", "Standard Laden", "Cancel"}));
  Strings labels;
  for (const auto* label : d.findChildren<QLabel*>()) labels.push_back(label->text().toStdString());
  for (const char* text :
       {"&Port", "Pari&ty", "&Databits", "&Baudrate", "&Flowcontrol", "&Stop", "Char Delay (µs)",
        "Extra Delay (ms)", "Sending", "Receiving", "XOn Char", "XOff Char", "XOn Limit (%)",
        "XOff Limit (%)", "Char", "Eventchar", "Report"})
    EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
}

TEST_F(SerialDialog, ValuesOutsideTheListsShowTheFallbackAndOkStoresIt) {
  com->SetComPort("/dev/ttyACM9");  // not among the ports found: kept as the box's text
  com->SetDataBits(9);
  com->SetFlowControl(0x1000);
  com->SetBaudRate(31250);
  com->SetStopBits(7);
  // The initial ErrorNoise is 255.
  TDaDudaroDevIza& d = Show();
  EXPECT_EQ(d.CBPort->currentText().toStdString(), "/dev/ttyACM9");
  EXPECT_EQ(Selected(d.CBData), "8 Bits");
  EXPECT_EQ(Selected(d.CBFlow), "None (*)");
  EXPECT_EQ(Selected(d.CBBaud), "9600");
  EXPECT_EQ(Selected(d.CBStop), "<none>");
  EXPECT_EQ(Selected(d.CBReport), "Everything");
  Click(d.OKBtn);
  EXPECT_EQ(d.result(), platform::mrOk);
  EXPECT_FALSE(d.isVisible());
  EXPECT_EQ(com->ComPort(), "/dev/ttyACM9");
  EXPECT_EQ(com->DataBits(), 8);
  EXPECT_EQ(com->FlowControl(), 0);
  EXPECT_EQ(com->BaudRate(), 9600u);
  EXPECT_EQ(com->StopBits(), 255) << "nothing selected arrives as 255";
  EXPECT_EQ(com->ErrorNoise(), 4);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(SerialDialog, PortMissingFromTheListStaysAndOnlyAnEmptiedBoxGivesAnEmptyName) {
  // Once the box was left empty and OK stored an empty name.
  com->SetComPort("/dev/ttyACM9");
  TDaDudaroDevIza& d = Show({"/dev/ttyS0"});
  EXPECT_EQ(Selected(d.CBPort), "<none>");
  EXPECT_EQ(d.CBPort->currentText().toStdString(), "/dev/ttyACM9");
  Click(d.OKBtn);
  EXPECT_EQ(com->ComPort(), "/dev/ttyACM9");
  EXPECT_EQ(Items(d.CBPort), (Strings{"/dev/ttyS0"})) << "the kept name is no entry";

  // Emptied by the user it is empty; an empty name shows COM2 when the list has it.
  Show({"/dev/ttyS0"});
  dialog->CBPort->setEditText("");
  Click(dialog->OKBtn);
  EXPECT_EQ(com->ComPort(), "");
  Show({"/dev/ttyS0", "COM2"});
  EXPECT_EQ(Selected(dialog->CBPort), "COM2");
}

TEST_F(SerialDialog, EveryValueGoesThereAndBackCharactersZeroElevenAndTwoFiftyFive) {
  com->SetComPort("/dev/ttyUSB0");
  com->SetBaudRate(115200);
  com->SetParityType(2);
  com->SetStopBits(1);
  com->SetDataBits(7);
  com->SetFlowControl(4240);
  com->SetXONChar('\0');
  com->SetXOFFChar('\x0b');
  com->SetParityErrorChar('\xff');
  com->SetEventChar('\xe4');
  com->SetXONLimDiv(75);
  com->SetXOFFLimDiv(25);
  com->SetParityErrorReplacement(true);
  com->SetStripNullChars(true);
  com->SetErrorNoise(1);
  com->SetXTOAuto(false);
  com->SetWTOCharDelayTime(11);
  com->SetRTOCharDelayTime(22);
  com->SetWTOExtraDelayTime(33);
  com->SetRTOExtraDelayTime(44);
  TDaDudaroDevIza& d = Show();
  EXPECT_EQ(Selected(d.CBPort), "/dev/ttyUSB0");
  EXPECT_EQ(Selected(d.CBBaud), "115200");
  EXPECT_EQ(Selected(d.CBParity), "Even");
  EXPECT_EQ(Selected(d.CBStop), "1,5 Bits");
  EXPECT_EQ(Selected(d.CBData), "7 Bits");
  EXPECT_EQ(Selected(d.CBFlow), "VuVadudeva");
  EXPECT_EQ(Selected(d.CBReport), "Errors");
  EXPECT_EQ(d.XOnCharEdit->text().toStdString(), "#0  ");
  EXPECT_EQ(d.XOffCharEdit->text().toStdString(), "#11 ");
  EXPECT_EQ(d.ParityErrorCharEdit->text().toStdString(), "#255");
  EXPECT_EQ(d.EventCharEdit->text().toStdString(), "ä");
  EXPECT_EQ(d.XOnLimitEdit->text().toStdString(), "75");
  EXPECT_EQ(d.WTOCharDelayEdit->text().toStdString(), "11");
  EXPECT_EQ(d.RTOExtraDelayEdit->text().toStdString(), "44");
  EXPECT_FALSE(d.CBXTOAuto->isChecked());
  EXPECT_TRUE(d.CBParityErrorReplacement->isChecked());
  EXPECT_TRUE(d.CBStripNullChars->isChecked());

  // OK with nothing edited changes nothing.
  const std::string port = com->ComPort();
  Click(d.OKBtn);
  EXPECT_EQ(com->ComPort(), port);
  EXPECT_EQ(com->BaudRate(), 115200u);
  EXPECT_EQ(com->ParityType(), 2);
  EXPECT_EQ(com->StopBits(), 1);
  EXPECT_EQ(com->DataBits(), 7);
  EXPECT_EQ(com->FlowControl(), 4240);
  EXPECT_EQ(com->XONChar(), '\0');
  EXPECT_EQ(com->XOFFChar(), '\x0b');
  EXPECT_EQ(com->ParityErrorChar(), '\xff');
  EXPECT_EQ(com->EventChar(), '\xe4');
  EXPECT_EQ(com->XONLimDiv(), 75);
  EXPECT_EQ(com->XOFFLimDiv(), 25);
  EXPECT_EQ(com->ErrorNoise(), 1);
  EXPECT_EQ(com->WTOCharDelayTime(), 11u);
  EXPECT_EQ(com->RTOCharDelayTime(), 22u);
  EXPECT_EQ(com->WTOExtraDelayTime(), 33u);
  EXPECT_EQ(com->RTOExtraDelayTime(), 44u);
  EXPECT_TRUE(messages.shown.empty());
}

TEST_F(SerialDialog, EmptyExtraDelayShowsTheConversionErrorAndTheDialogStaysOpen) {
  TDaDudaroDevIza& d = Show();
  d.CBPort->setCurrentText("/dev/ttyUSB0");
  d.CBBaud->setCurrentText("19200");
  d.CBData->setCurrentText("7 Bits");
  d.CBStop->setCurrentIndex(2);
  d.CBParity->setCurrentIndex(1);
  d.CBFlow->setCurrentIndex(1);
  d.CBXTOAuto->setChecked(false);
  d.WTOCharDelayEdit->setText("500");
  d.RTOCharDelayEdit->setText("600");
  d.WTOExtraDelayEdit->clear();
  d.RTOExtraDelayEdit->setText("700");
  d.XOnCharEdit->setText("A");
  Click(d.OKBtn);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].kind, MessageKind::Error);
  EXPECT_EQ(messages.shown[0].text, "'' ist kein gültiger Integerwert");
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.result(), platform::mrNone);
  // Applied before the empty field ...
  EXPECT_EQ(com->ComPort(), "/dev/ttyUSB0");
  EXPECT_EQ(com->BaudRate(), 19200u);
  EXPECT_EQ(com->DataBits(), 7);
  EXPECT_EQ(com->StopBits(), 2);
  EXPECT_EQ(com->ParityType(), 1);
  EXPECT_EQ(com->FlowControl(), 896);
  EXPECT_FALSE(com->XTOAuto());
  EXPECT_EQ(com->WTOCharDelayTime(), 500u);
  EXPECT_EQ(com->RTOCharDelayTime(), 600u);
  // ... and nothing after it.
  EXPECT_EQ(com->WTOExtraDelayTime(), 250u);
  EXPECT_EQ(com->RTOExtraDelayTime(), 250u);
  EXPECT_EQ(com->XONChar(), '\x0b');

  // "Standard Setzen" fails the same way and stores nothing.
  Click(d.StandardSetzenBtn);
  EXPECT_EQ(messages.shown.size(), 2u);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(store.WriteCount(), 0);

  // Corrected, OK goes through; the error box did not refill the fields.
  d.WTOExtraDelayEdit->setText("42");
  Click(d.OKBtn);
  EXPECT_EQ(d.result(), platform::mrOk);
  EXPECT_EQ(com->WTOExtraDelayTime(), 42u);
  EXPECT_EQ(com->XONChar(), 'A');
}

TEST_F(SerialDialog, WithDefaultTimingTheTimingFieldsAreIgnored) {
  com->SetXTOAuto(false);
  com->SetBaudRate(19200);
  TDaDudaroDevIza& d = Show();
  d.CBXTOAuto->setChecked(true);
  d.WTOCharDelayEdit->setText("fast");
  d.RTOExtraDelayEdit->clear();
  Click(d.OKBtn);
  EXPECT_EQ(d.result(), platform::mrOk);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(com->WTOCharDelayTime(), 570u) << "the change to checked ran XTODefault";
  EXPECT_EQ(com->RTOExtraDelayTime(), 250u);
}

TEST_F(SerialDialog, LimitsAbove100WarnAndLimitsBeyondTheByteAreNoNumber) {
  com->SetErrorNoise(1);
  TDaDudaroDevIza& d = Show();
  d.CBReport->setCurrentIndex(1);
  d.XOnLimitEdit->setText("150");
  d.XOffLimitEdit->setText("300");  // once cut to its low byte, 44, without a word
  Click(d.OKBtn);
  EXPECT_EQ(com->XONLimDiv(), 100);
  EXPECT_EQ(com->XOFFLimDiv(), 33);
  ASSERT_EQ(Reported(), (std::vector<std::uint32_t>{0x1011}));
  EXPECT_EQ(reports[0].code, 150u);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "'300' ist kein gültiger Integerwert");
  EXPECT_TRUE(d.isVisible());
}

TEST_F(SerialDialog, CharacterFieldsTakeEveryFormAndRefuseWhatIsNoByte) {
  TDaDudaroDevIza& d = Show();
  d.XOnCharEdit->setText("$11");
  d.XOffCharEdit->setText("");  // keeps the current character
  d.ParityErrorCharEdit->setText("#300");
  d.EventCharEdit->setText("€");
  Click(d.OKBtn);
  EXPECT_EQ(d.result(), platform::mrOk);
  EXPECT_EQ(com->XONChar(), '\x11');
  EXPECT_EQ(com->XOFFChar(), '\x0d');
  EXPECT_EQ(com->ParityErrorChar(), '\0');
  EXPECT_EQ(com->EventChar(), '\0');
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[0].text, "300 ist nicht im Wertebereich 0 - 255");
  EXPECT_EQ(messages.shown[1].text, "8364 ist nicht im Wertebereich 0 - 255");

  // A prefix without a number is a conversion error: the dialog stays open.
  Show();
  dialog->XOnCharEdit->setText("#ab");
  Click(dialog->OKBtn);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(messages.shown.back().text, "'ab' ist kein gültiger Integerwert");
}

TEST_F(SerialDialog, OkOpensAndClosesThePort) {
  ports.Add("/dev/ttyUSB0");
  TDaDudaroDevIza& d = Show();
  d.CBPort->setCurrentText("/dev/ttyUSB0");
  d.CBOpenPort->setChecked(true);
  Click(d.OKBtn);
  EXPECT_TRUE(com->Active());
  Settle(*ports.Port("/dev/ttyUSB0"));
  Show();
  EXPECT_TRUE(dialog->CBOpenPort->isChecked());
  dialog->CBOpenPort->setChecked(false);
  Click(dialog->OKBtn);
  EXPECT_FALSE(com->Active());
}

TEST_F(SerialDialog, CancelAndTheCloseBoxChangeNothing) {
  TDaDudaroDevIza& d = Show();
  d.CBBaud->setCurrentText("300");
  Click(d.CancelBtn);
  EXPECT_EQ(d.result(), platform::mrCancel);
  EXPECT_FALSE(d.isVisible());
  Show();
  dialog->CBBaud->setCurrentText("300");
  dialog->close();
  EXPECT_EQ(dialog->result(), platform::mrCancel);
  EXPECT_EQ(com->BaudRate(), 9600u);
}

TEST_F(SerialDialog, StandardSetzenStoresStandardLadenLoadsAndClosesAtOnce) {
  TDaDudaroDevIza& d = Show();
  d.CBBaud->setCurrentText("38400");
  d.XOffCharEdit->setText("#0");
  Click(d.StandardSetzenBtn);
  EXPECT_EQ(d.result(), platform::mrYes);
  EXPECT_FALSE(d.isVisible());
  const char* key = "Software\\Quenzhal\\DaVevureRezDefaultSettings";
  EXPECT_EQ(settings_test::Stored(store, key, "BaudRate"), "38400");
  EXPECT_EQ(settings_test::Stored(store, key, "XOFFChar"), std::string(1, '\0'));

  com->SetBaudRate(1200);
  Show();
  dialog->CBBaud->setCurrentText("600");  // not read by "Standard Laden"
  Click(dialog->StandardLadenBtn);
  EXPECT_EQ(dialog->result(), platform::mrNo);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(com->BaudRate(), 38400u);
  EXPECT_EQ(com->XOFFChar(), '\0');
  EXPECT_EQ(dialog->CBBaud->currentText().toStdString(), "600") << "closed without showing";
  dialog->show();
  EXPECT_EQ(Selected(dialog->CBBaud), "38400") << "the next showing shows the loaded values";
}

TEST_F(SerialDialog, ExecuteDlgShowsTheInstalledDialogModally) {
  com->ExecuteDlg();  // nothing installed: nothing happens
  InstallDaDudaroDevIza(&messages);
  std::string seen;
  QTimer::singleShot(0, [&] {
    auto* shown = dynamic_cast<TDaDudaroDevIza*>(QApplication::activeModalWidget());
    ASSERT_NE(shown, nullptr);
    seen = shown->windowTitle().toStdString();
    EXPECT_EQ(&shown->Owner, com.get());
    shown->CBBaud->setCurrentText("2400");
    QTest::mouseClick(shown->OKBtn, Qt::LeftButton);
  });
  com->ExecuteDlg();
  EXPECT_EQ(seen, "DaVevureRez Einstellungen");
  EXPECT_EQ(com->BaudRate(), 2400u);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "released after closing";
}

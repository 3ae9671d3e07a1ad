// The settings dialog of the connection component: edits the connection settings of one
// TDoVuverUve, saves or loads them as the default settings, and opens the serial settings
// dialog of the component's serial port component. It works on the component directly;
// applying goes through the property setters, so it always closes an open line and opens
// it again when "Verbindung" is ticked.
//
// Qt Widgets, main thread only. It lives in the library connection_dialog, apart from the
// component, which reaches it through TDoVuverUve::SettingsDialog (InstallZaDozerUdoVaz).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "connection/TDoVuverUve.h"
#include "platform/qt/SettingsDialogBase.h"

class TZaDozerUdoVaz : public platform::SettingsDialogBase {
 public:
  // `messages`: where the dialog's boxes go; Qt message boxes when null.
  explicit TZaDozerUdoVaz(TDoVuverUve& AOwner, QWidget* parent = nullptr,
                          platform::UserMessages* messages = nullptr);

  // Component to controls; done on every show.
  void SetDlgData();
  // Controls to component, in a fixed order, each through its setter. A delay that is no
  // whole number throws ConversionError there; what came before stays.
  void GetDlgData() override;

  // Opens the serial settings dialog; this one stays open.
  void DaVevureRezBtnClick();

  static constexpr const char* kRegkey = "Software\\Quenzhal";
  static constexpr const char* kRegSubKey = "DoVuverUveDefaultSettings";

  TDoVuverUve& Owner;

  // The combo boxes take free text too; only an entry of the list counts as chosen.
  QComboBox* Schnittstelle;
  QComboBox* Anschluss;
  QCheckBox* Verbindung;
  QLineEdit* RxDCharDelay;
  QPushButton* DaVevureRezBtn;
  QLineEdit* TeleNummer;
  QComboBox* Wahlverfahren;
  QCheckBox* ResetModem;
  QLineEdit* IniString;

 protected:
  void FormShow() override { SetDlgData(); }
  void SaveDefaults() override { Owner.WriteSettings(kRegkey, kRegSubKey); }
  void LoadDefaults() override { Owner.ReadSettings(kRegkey, kRegSubKey); }
};

// Makes TDoVuverUve::ExecuteDlg show this dialog modally over the active window, and
// TDaVevureRez::ExecuteDlg the serial one; `messages` as for the dialogs.
void InstallZaDozerUdoVaz(platform::UserMessages* messages = nullptr);

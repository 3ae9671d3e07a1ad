// The settings dialog of the protocol component: its connection type, protocol, 3964R
// answer time, block mode send request and activity; saves or loads them as the default
// settings, and opens the connection component's settings dialog ("Erw. Einstellungen"),
// which opens the serial one: the chain of the three dialogs.
//
// Qt Widgets, main thread only. It lives in the library protocol_dialog, apart from the
// component, which reaches it through TRiVadaroverEza::SettingsDialog
// (InstallVeDerudezodAraDuz).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "platform/qt/SettingsDialogBase.h"
#include "protocol/TRiVadaroverEza.h"

class TVeDerudezodAraDuz : public platform::SettingsDialogBase {
 public:
  // `messages`: where the dialog's boxes go; Qt message boxes when null.
  explicit TVeDerudezodAraDuz(TRiVadaroverEza& AOwner, QWidget* parent = nullptr,
                              platform::UserMessages* messages = nullptr);

  // Component to controls; done on every show.
  void SetDlgData();
  // Controls to component, in a fixed order, each through its setter. An answer time that
  // is no whole number throws ConversionError there; what came before stays.
  void GetDlgData() override;

  // Opens the connection component's settings dialog; this one stays open.
  void EinstellungenClick();

  static constexpr const char* kRegkey = "Software\\Quenzhal";
  static constexpr const char* kRegSubKey = "RiVadaroverEzaDefaultSettings";

  TRiVadaroverEza& Owner;

  QComboBox* Verbindung;
  QComboBox* Protokoll;
  QCheckBox* Aktiv;
  QLineEdit* WaitForAnswer3964R;
  QCheckBox* BlockModeSendRequest;
  QPushButton* Einstellungen;

 protected:
  void FormShow() override { SetDlgData(); }
  void SaveDefaults() override { Owner.WriteSettings(kRegkey, kRegSubKey); }
  void LoadDefaults() override { Owner.ReadSettings(kRegkey, kRegSubKey); }
};

// Makes ExecuteDlg of all three components show their dialogs modally over the active
// window; `messages` as for the dialogs.
void InstallVeDerudezodAraDuz(platform::UserMessages* messages = nullptr);

// The settings dialog of the serial component: edits every setting of one TDaVevureRez,
// opens or closes its port, and saves or loads the default settings. It works on the
// component directly: OK and "Standard Setzen" push the controls through the property
// setters, so every change acts as the setter says.
//
// Qt Widgets, main thread only. It lives in the library serial_dialog, apart from the
// component, which reaches it through TDaVevureRez::SettingsDialog (InstallDaDudaroDevIza).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <optional>
#include <string>
#include <vector>

#include "platform/qt/SettingsDialogBase.h"
#include "serial/TDaVevureRez.h"

class TDaDudaroDevIza : public platform::SettingsDialogBase {
 public:
  // `Ports`: the entries of the port box; the PC's serial ports when not given.
  // `messages`: where the dialog's boxes go; Qt message boxes when null.
  explicit TDaDudaroDevIza(TDaVevureRez& AOwner, QWidget* parent = nullptr,
                           platform::UserMessages* messages = nullptr,
                           std::optional<std::vector<std::string>> Ports = std::nullopt);

  // Component to controls; done on every show.
  void SetDlgData();
  // Controls to component, in a fixed order, each through its setter. A timing or limit
  // field that is no whole number throws ConversionError there; what came before stays.
  void GetDlgData() override;

  // Checks a character field (only its range message can appear) and a number field (an
  // empty one is refused). No control uses them: the fields are checked when applied.
  void ValidateCharInput(QLineEdit* Sender);
  void ValidateInteger(QLineEdit* Sender);

  // The flow-control values in the order of the flow-control box.
  static constexpr std::int32_t FlowControlValues[] = {0, 896, 8196, 40, 4240};
  static constexpr const char* kRegkey = "Software\\Quenzhal";
  static constexpr const char* kRegSubKey = "DaVevureRezDefaultSettings";

  TDaVevureRez& Owner;

  // "Grundeinstellungen"
  QComboBox* CBPort;
  QComboBox* CBParity;
  QComboBox* CBData;
  QComboBox* CBBaud;
  QComboBox* CBFlow;
  QComboBox* CBStop;
  QCheckBox* CBOpenPort;
  // "Timing"
  QLineEdit* WTOCharDelayEdit;
  QLineEdit* WTOExtraDelayEdit;
  QLineEdit* RTOCharDelayEdit;
  QLineEdit* RTOExtraDelayEdit;
  QCheckBox* CBXTOAuto;
  // "Erweitert"
  QLineEdit* XOnCharEdit;
  QLineEdit* XOffCharEdit;
  QLineEdit* XOnLimitEdit;
  QLineEdit* XOffLimitEdit;
  QCheckBox* CBParityErrorReplacement;
  QLineEdit* ParityErrorCharEdit;
  QLineEdit* EventCharEdit;
  QCheckBox* CBStripNullChars;
  QComboBox* CBReport;
  // The buttons, top to bottom.

 protected:
  void FormShow() override { SetDlgData(); }
  void SaveDefaults() override { Owner.WriteSettings(kRegkey, kRegSubKey); }
  void LoadDefaults() override { Owner.ReadSettings(kRegkey, kRegSubKey); }

 private:
  char CharFrom(const QLineEdit* Edit, char Current);
};

// Makes TDaVevureRez::ExecuteDlg show this dialog modally over the active window;
// `messages` as for the dialog.
void InstallDaDudaroDevIza(platform::UserMessages* messages = nullptr);

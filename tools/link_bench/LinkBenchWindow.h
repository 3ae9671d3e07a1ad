// The link bench's window: choose a port, open the settings dialogs of the component chain,
// switch the chain on and off, send a telegram typed in hexadecimal, and watch what comes
// back: the telegrams received and the connection component's traffic log.
//
// Qt Widgets, main thread only. The components belong to the caller and must outlive the
// window; the window installs its handlers in the protocol component's events and removes
// them when it goes.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "connection/TDoVuverUve.h"
#include "protocol/TRiVadaroverEza.h"
#include "serial/TDaVevureRez.h"

class LinkBenchWindow : public QWidget {
 public:
  // `FindPorts` fills the port box (at the start and on "Suchen").
  LinkBenchWindow(TRiVadaroverEza& Protocol, TDoVuverUve& Line, TDaVevureRez& Serial,
                  std::function<std::vector<std::string>()> FindPorts);
  ~LinkBenchWindow() override;

  // The user's actions, also for tests.
  void FillPorts();
  void OpenSettings();
  void Switch(bool On);
  void Send();

  QComboBox* PortBox;
  QPushButton* FindBtn;
  QPushButton* SettingsBtn;
  QCheckBox* ActiveBox;
  QLineEdit* HexEdit;
  QPushButton* SendBtn;
  QPlainTextEdit* Telegrams;
  QPlainTextEdit* Log;
  QLabel* State;

 private:
  void ApplyPort();
  void TakeTelegrams();
  void Note(const QString& line);
  // Moves the traffic log's new lines into the view and shows the chain's state.
  void Refresh();

  TRiVadaroverEza& fProtocol;
  TDoVuverUve& fLine;
  TDaVevureRez& fSerial;
  std::function<std::vector<std::string>()> fFindPorts;
};

// Settings persistence and the settings dialog's entry point of the serial component.
#include "platform/FileRegistry.h"
#include "serial/TDaVevureRez.h"
#include "util/RegIniFile.h"

namespace {

constexpr std::uint8_t kError = 0;
constexpr std::uint8_t kMessage = 2;

}  // namespace

void TDaVevureRez::WriteSettings(const std::string& Regkey, const std::string& RegSubKey) {
  TRegIniFile ini(fRegistry ? *fRegistry : platform::UserRegistry(), Regkey);
  const std::string& s = RegSubKey;
  // Collected, then written as one change: a reader sees this whole set or the one before.
  try {
    ini.WriteString(s, "ComPort", fComPort);
    ini.WriteInteger(s, "BaudRate", fBaudRate);
    ini.WriteInteger(s, "ParityType", fParityType);
    ini.WriteChar(s, "ParityErrorChar", fParityErrorChar);
    ini.WriteBool(s, "ParityErrorReplacement", fParityErrorReplacement);
    ini.WriteInteger(s, "StopBits", fStopBits);
    ini.WriteInteger(s, "DataBits", fDataBits);
    ini.WriteChar(s, "XONChar", fXONChar);
    ini.WriteChar(s, "XOFFChar", fXOFFChar);
    ini.WriteInteger(s, "XONLimDiv", fXONLimDiv);
    ini.WriteInteger(s, "XOFFLimDiv", fXOFFLimDiv);
    ini.WriteInteger(s, "FlowControl", fFlowControl);
    ini.WriteBool(s, "StripNullChars", fStripNullChars);
    ini.WriteChar(s, "EventChar", fEventChar);
    ini.WriteInteger(s, "RTOCharDelayTime", fRTOCharDelayTime);
    ini.WriteInteger(s, "RTOExtraDelayTime", fRTOExtraDelayTime);
    ini.WriteInteger(s, "ClusterSize", fClusterSize);
    ini.WriteInteger(s, "RxQueueSize", fRxQueueSize);
    ini.WriteInteger(s, "TxQueueSize", fTxQueueSize);
    ini.WriteInteger(s, "WTOCharDelayTime", fWTOCharDelayTime);
    ini.WriteInteger(s, "WTOExtraDelayTime", fWTOExtraDelayTime);
    ini.WriteBool(s, "XTOAuto", fXTOAuto);
    ini.WriteBool(s, "RTSState", fRTSState);
    ini.WriteBool(s, "DTRState", fDTRState);
    ini.WriteBool(s, "BREAKState", fBREAKState);
    ini.WriteInteger(s, "ErrorNoise", fErrorNoise);
    ini.WriteBool(s, "Active", fActive);
    ini.UpdateFile();
  } catch (const std::exception& e) {
    ReportError(0x1202, 0, SettingsFailureText("Fehler: beim Speichern der Einstellungen", e),
                kError);
    return;
  }
  ReportError(0x1201, 0, "Meldung: Einstellungen gespeichert", kMessage);
}

void TDaVevureRez::ReadSettings(const std::string& Regkey, const std::string& RegSubKey) {
  // Reading needs no key of its own: a missing key reads as every default, and a store
  // that cannot be written can still be read.
  const TRegIniFile ini(fRegistry ? *fRegistry : platform::UserRegistry(), Regkey);
  const std::string& s = RegSubKey;
  // Each value lands in its field at once, so that a failure keeps what was read before it;
  // a number outside the field's type is no number and gives the default.
  try {
    fComPort = ini.ReadString(s, "ComPort", "COM2");
    fBaudRate = ini.ReadNumber<std::uint32_t>(s, "BaudRate", 9600);
    fParityType = ini.ReadNumber<std::uint8_t>(s, "ParityType", 0);
    SetParityErrorChar(ini.ReadChar(s, "ParityErrorChar", 0));
    fParityErrorReplacement = ini.ReadBool(s, "ParityErrorReplacement", false);
    fStopBits = ini.ReadNumber<std::uint8_t>(s, "StopBits", 0);
    fDataBits = ini.ReadNumber<std::uint8_t>(s, "DataBits", 8);
    fXONChar = ini.ReadChar(s, "XONChar", 11);
    fXOFFChar = ini.ReadChar(s, "XOFFChar", 13);
    fXONLimDiv = ini.ReadNumber<std::uint8_t>(s, "XONLimDiv", 33);
    fXOFFLimDiv = ini.ReadNumber<std::uint8_t>(s, "XOFFLimDiv", 33);
    fFlowControl = ini.ReadNumber<std::int32_t>(s, "FlowControl", 0);
    fStripNullChars = ini.ReadBool(s, "StripNullChars", false);
    fEventChar = ini.ReadChar(s, "EventChar", 0);
    fRTOCharDelayTime = ini.ReadNumber<std::uint32_t>(s, "RTOCharDelayTime", 1100);
    fRTOExtraDelayTime = ini.ReadNumber<std::uint32_t>(s, "RTOExtraDelayTime", 250);
    fClusterSize = ini.ReadNumber<std::uint32_t>(s, "ClusterSize", 3072);
    fRxQueueSize = ini.ReadNumber<std::uint32_t>(s, "RxQueueSize", 4096);
    fTxQueueSize = ini.ReadNumber<std::uint32_t>(s, "TxQueueSize", 4096);
    fWTOCharDelayTime = ini.ReadNumber<std::uint32_t>(s, "WTOCharDelayTime", 1100);
    fWTOExtraDelayTime = ini.ReadNumber<std::uint32_t>(s, "WTOExtraDelayTime", 250);
    fXTOAuto = ini.ReadBool(s, "XTOAuto", true);
    fRTSState = ini.ReadBool(s, "RTSState", true);
    fDTRState = ini.ReadBool(s, "DTRState", true);
    fBREAKState = ini.ReadBool(s, "BREAKState", false);
    fErrorNoise = ini.ReadNumber<std::uint8_t>(s, "ErrorNoise", 2);
    SetActive(ini.ReadBool(s, "Active", false));
  } catch (const std::exception& e) {
    ReportError(0x1212, 0, SettingsFailureText("Fehler: Laden der Einstellungen", e), kError);
    return;
  }
  ReportError(0x1211, 0, "Meldung: Einstellungen geladen", kMessage);
}

void TDaVevureRez::ExecuteDlg() {
  // A copy, so that a runner replaced while its dialog is open stays alive until it ends.
  if (const auto dialog = SettingsDialog) dialog(*this);
}

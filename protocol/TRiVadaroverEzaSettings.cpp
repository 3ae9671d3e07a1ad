// Settings persistence and the settings dialog's entry point of the protocol component.
#include "platform/FileRegistry.h"
#include "protocol/TRiVadaroverEza.h"
#include "util/RegIniFile.h"

namespace {

constexpr std::int64_t kMinWaitForAnswer = 1;  // ms

}  // namespace

void TRiVadaroverEza::WriteSettings(const std::string& Regkey, const std::string& RegSubKey) {
  TRegIniFile ini(fRegistry ? *fRegistry : platform::UserRegistry(), Regkey);
  const std::string& s = RegSubKey;
  // Collected, then written as one change: a reader sees this whole set or the one before.
  try {
    ini.WriteInteger(s, "Verbindungstyp", static_cast<std::uint8_t>(fVerbindung));
    ini.WriteInteger(s, "Protokoll", static_cast<std::uint8_t>(fProtokoll));
    ini.WriteInteger(s, "WaitForAnswer3964R", f3964RWaitForAnswer);
    ini.WriteBool(s, "BlockModeSendRequest3964RPlus", P3964RPBlockModeSendRequest());
    ini.WriteBool(s, "Active", fActive);
    ini.UpdateFile();
  } catch (const std::exception& e) {
    MeldeFehler(0x3012, 0, SettingsFailureText("Fehler beim Speichern der Einstellungen", e), 0);
  }
}

void TRiVadaroverEza::ReadSettings(const std::string& Regkey, const std::string& RegSubKey) {
  // Reading needs no key of its own: a missing key reads as every default, and a store
  // that cannot be written can still be read.
  const TRegIniFile ini(fRegistry ? *fRegistry : platform::UserRegistry(), Regkey);
  const std::string& s = RegSubKey;
  // Stored numbers are applied unchecked within the 8 bits of the enumerations. An answer
  // time below 1 ms would never tick: no repetition, no time-out, no ready report; it is
  // no answer time and gives the default.
  try {
    SetVerbindung(static_cast<TVerbindungsTyp>(ini.ReadNumber<std::uint8_t>(s, "Verbindungstyp", 0)));
    SetProtokoll(static_cast<TProtokoll>(ini.ReadNumber<std::uint8_t>(
        s, "Protokoll", static_cast<std::uint8_t>(TProtokoll::p3964RPlus))));
    SetWaitForAnswer3964R(static_cast<std::int32_t>(ini.ReadInteger(
        s, "WaitForAnswer3964R", 1000, kMinWaitForAnswer, std::numeric_limits<std::int32_t>::max())));
    SetP3964RPBlockModeSendRequest(ini.ReadBool(s, "BlockModeSendRequest3964RPlus", false));
    SetActive(false);
    SetActive(ini.ReadBool(s, "Active", false));
  } catch (const std::exception& e) {
    MeldeFehler(0x3022, 0, SettingsFailureText("Fehler beim Laden der Einstellungen", e), 0);
  }
}

void TRiVadaroverEza::ExecuteDlg() {
  // A copy, so that a runner replaced while its dialog is open stays alive until it ends.
  if (const auto dialog = SettingsDialog) dialog(*this);
}

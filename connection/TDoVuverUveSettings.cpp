// Settings persistence and the settings dialog's entry point of the connection component.
#include "connection/TDoVuverUve.h"
#include "platform/FileRegistry.h"
#include "util/RegIniFile.h"

void TDoVuverUve::WriteSettings(const std::string& Regkey, const std::string& RegSubKey) {
  TRegIniFile ini(fRegistry ? *fRegistry : platform::UserRegistry(), Regkey);
  const std::string& s = RegSubKey;
  // Collected, then written as one change: a reader sees this whole set or the one before.
  try {
    ini.WriteInteger(s, "PCSchnittstelle", static_cast<std::uint8_t>(fPCSchnittstelle));
    ini.WriteInteger(s, "AnschlussTyp", static_cast<std::uint8_t>(fAnschlussTyp));
    ini.WriteInteger(s, "Wahlverfahren", static_cast<std::uint8_t>(fWahlverfahren));
    ini.WriteInteger(s, "RxDCharDelayTime", fRxDCharTime);
    ini.WriteString(s, "TeleNummer", fTeleNummer);
    ini.WriteString(s, "IniString", fIniString);
    ini.WriteInteger(s, "MaxProtokollAnzahl", fMaxProtAnzahl);
    ini.WriteInteger(s, "TxDWaitSendTime", fTxDWaitSendTime);
    ini.WriteBool(s, "Active", fActive);
    ini.WriteBool(s, "ResetModem", fResetModem);
    ini.UpdateFile();
  } catch (const std::exception& e) {
    ProtokollMeldung("", 0x2052, 0, SettingsFailureText("Fehler beim Speichern der Einstellungen", e),
                     0);
    return;
  }
  ProtokollMeldung("", 0x2051, 0, "Meldung Einstellungen gespeichert", 2);
}

void TDoVuverUve::ReadSettings(const std::string& Regkey, const std::string& RegSubKey) {
  // Reading needs no key of its own: a missing key reads as every default, and a store
  // that cannot be written can still be read.
  const TRegIniFile ini(fRegistry ? *fRegistry : platform::UserRegistry(), Regkey);
  const std::string& s = RegSubKey;
  // Stored ordinals are applied unchecked within the 8 bits of the property.
  auto ordinal = [&](const char* name) { return ini.ReadNumber<std::uint8_t>(s, name, 0); };
  try {
    SetPCSchnittstelle(static_cast<TPCSchnittstellenTyp>(ordinal("PCSchnittstelle")));
    SetAnschlussTyp(static_cast<TAnschlussTyp>(ordinal("AnschlussTyp")));
    SetWahlverfahren(static_cast<TWahlverfahren>(ordinal("Wahlverfahren")));
    SetRxDCharTime(ini.ReadNumber<std::int32_t>(s, "RxDCharDelayTime", 0));
    SetTeleNummer(ini.ReadString(s, "TeleNummer", ""));
    SetIniString(ini.ReadString(s, "IniString", ""));
    SetTxDWaitSendTime(ini.ReadNumber<std::int32_t>(s, "TxDWaitSendTime", 0));
    fMaxProtAnzahl = ini.ReadNumber<std::int32_t>(s, "MaxProtokollAnzahl", 10000);
    SetResetModem(ini.ReadBool(s, "ResetModem", true));
    // Off first, so that the line comes up with every value above in place.
    SetActive(false);
    SetActive(ini.ReadBool(s, "Active", false));
  } catch (const std::exception& e) {
    ProtokollMeldung("", 0x2062, 0, SettingsFailureText("Fehler beim Laden der Einstellungen", e),
                     0);
    return;
  }
  ProtokollMeldung("", 0x2061, 0, "Meldung Einstellungen geladen", 2);
}

void TDoVuverUve::ExecuteDlg() {
  // A copy, so that a runner replaced while its dialog is open stays alive until it ends.
  if (const auto dialog = SettingsDialog) dialog(*this);
}

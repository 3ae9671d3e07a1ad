#include "app/ErrorAdvice.h"

#include <cerrno>

#include "protocol/T3964RProzedur.h"
#include "serial/TDaVevureRez.h"
#include "util/ComPortList.h"

namespace {

constexpr std::uint32_t kOpeningFailed = 0x1138;

std::string Listed(const std::vector<std::string>& ports) {
  std::string text;
  for (const std::string& port : ports) text += (text.empty() ? "" : ", ") + port;
  return text;
}

std::string PortsThatExist(const AdviceSources& sources) {
  const std::vector<std::string> ports = sources.ports ? sources.ports() : GetComPortList();
  if (ports.empty())
    return "Es ist kein serieller Port vorhanden: ist das Gerät bzw. der USB-Adapter "
           "angeschlossen?";
  return "Vorhandene Ports: " + Listed(ports) + ".";
}

std::string BusyAdvice(const std::string& device, const AdviceSources& sources) {
  const auto holder = platform::FindPortHolder(device, sources.lock_dir, sources.proc);
  const std::string modem_manager =
      "ModemManager prüft neu angeschlossene ttyACM-Geräte einige Sekunden lang: kurz warten "
      "oder ModemManager beenden (sudo systemctl stop ModemManager).";
  if (!holder)
    return "Hinweis: " + device + " ist von einem anderen Programm belegt. " + modem_manager;
  const std::string who =
      (holder->program.empty() ? "einem Programm" : "\"" + holder->program + "\"") + " (PID " +
      std::to_string(holder->pid) + ")";
  if (holder->program == "ModemManager")
    return "Hinweis: " + device + " ist von " + who + " belegt. " + modem_manager;
  return "Hinweis: " + device + " ist von " + who +
         " belegt: das Programm beenden und erneut flashen.";
}

bool NoAnswer(RunResult result, std::uint32_t place) {
  if (result == RunResult::TimeOut) return true;
  if (result != RunResult::ErrorReport) return false;
  using namespace report;
  for (std::uint32_t p : {k3964RSendenNichtErfolgreich, k3964RKeineAntwortSendewunsch,
                          k3964RPSendenNichtErfolgreich, k3964RPKeineAntwortSendewunsch,
                          k3964RPKeineAntwortToggleBlock, k3964RPKeineAntwortBlockmodus})
    if (place == p) return true;
  return false;
}

}  // namespace

std::string ErrorAdvice(RunResult result, std::uint32_t place, std::uint32_t code,
                        const std::string& port, const AdviceSources& sources) {
  if (NoAnswer(result, place))
    return "Hinweis: Das Gerät antwortet nicht. Ist es eingeschaltet und im Flashmodus, und "
           "steckt das Kabel am gewählten Port?";
  if (result != RunResult::ErrorReport || place != kOpeningFailed) return {};
  const std::string device = ComPortDevicePath(port);
  switch (code) {
    case EACCES:
    case EPERM:
      return "Hinweis: Keine Berechtigung für " + device +
             ". Den Benutzer in die Gruppe \"dialout\" aufnehmen (sudo usermod -aG dialout "
             "$USER) und sich neu anmelden.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return "Hinweis: Den Port " + device + " gibt es nicht. " + PortsThatExist(sources);
    case ENOTTY:
    case EISDIR:
      return "Hinweis: " + device + " ist kein serieller Port. " + PortsThatExist(sources);
    case EBUSY:
      return BusyAdvice(device, sources);
    default:
      return {};
  }
}

std::string ErrorAdvice(TZORurerizudor& form, const AdviceSources& sources) {
  return ErrorAdvice(form.LastResult(), form.ErrorPlace(), form.ErrorCode(),
                     form.DaVevureRez1().ComPort(), sources);
}

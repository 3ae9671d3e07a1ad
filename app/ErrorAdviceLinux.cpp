#include <cerrno>

#include "app/ErrorAdvice.h"

// The causes a user meets on Linux, told by the errno of the opening.
namespace {

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

}  // namespace

std::string OpeningAdvice(std::uint32_t code, const std::string& /*port*/,
                          const std::string& device, const AdviceSources& sources) {
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

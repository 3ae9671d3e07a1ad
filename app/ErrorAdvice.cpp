#include "app/ErrorAdvice.h"

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

std::string PortsThatExist(const AdviceSources& sources) {
  const std::vector<std::string> ports = sources.ports ? sources.ports() : GetComPortList();
  if (ports.empty())
    return "Es ist kein serieller Port vorhanden: ist das Gerät bzw. der USB-Adapter "
           "angeschlossen?";
  return "Vorhandene Ports: " + Listed(ports) + ".";
}

std::string ErrorAdvice(RunResult result, std::uint32_t place, std::uint32_t code,
                        const std::string& port, const AdviceSources& sources) {
  if (NoAnswer(result, place))
    return "Hinweis: Das Gerät antwortet nicht. Ist es eingeschaltet und im Flashmodus, und "
           "steckt das Kabel am gewählten Port?";
  if (result != RunResult::ErrorReport || place != kOpeningFailed) return {};
  return OpeningAdvice(code, port, ComPortDevicePath(port), sources);
}

std::string ErrorAdvice(TZORurerizudor& form, const AdviceSources& sources) {
  return ErrorAdvice(form.LastResult(), form.ErrorPlace(), form.ErrorCode(),
                     form.DaVevureRez1().ComPort(), sources);
}

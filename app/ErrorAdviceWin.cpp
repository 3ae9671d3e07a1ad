// The seam's names first: <windows.h> defines some of them as macros of equal value.
// clang-format off
#include "app/ErrorAdvice.h"
#include <windows.h>
// clang-format on

// The causes a user meets on Windows, told by the system error of the opening. A COM port
// is opened exclusively: one that another program holds is refused as "access denied".
std::string OpeningAdvice(std::uint32_t code, const std::string& port,
                          const std::string& /*device*/, const AdviceSources& sources) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "Hinweis: " + port +
             " ist von einem anderen Programm belegt (ein Terminalprogramm, ein anderer "
             "Flasher?): das Programm beenden und erneut flashen.";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return "Hinweis: Den Port " + port + " gibt es nicht. " + PortsThatExist(sources);
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
      return "Hinweis: " + port +
             " antwortet nicht: den USB-Adapter abziehen, wieder anstecken und erneut flashen.";
    default:
      return {};
  }
}

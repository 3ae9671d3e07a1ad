#include "app/FlasherVersion.h"

#include <vector>

#include "app/FirmwareImages.h"
#include "util/ProgramVersion.h"

std::string FlasherVersionText(std::string_view program) {
  std::vector<std::string> details;
  int revision = 0;
  for (const char* name : {kImageNameHR0, kImageNameHR1}) {
    TMZData image;
    std::string error;
    const std::string version = LoadEmbeddedImage(name, image, error) ? VersionText(image) : error;
    std::string line = "built-in image for hardware revision ";
    line += std::to_string(revision++) + " (" + name + "): " + version;
    details.push_back(line);
  }
  return ProgramVersionText(program, details);
}

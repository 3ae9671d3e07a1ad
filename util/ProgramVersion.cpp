#include "util/ProgramVersion.h"

#include <cstring>

const char* ProjectVersion() {
  return FLASHER_VERSION;
}

std::string ProgramVersionText(std::string_view program, const std::vector<std::string>& details) {
  std::string text(program);
  text += ' ';
  text += ProjectVersion();
  text += '\n';
  for (const std::string& line : details) text += line + '\n';
  return text;
}

bool AsksForVersion(int argc, char** argv) {
  return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}

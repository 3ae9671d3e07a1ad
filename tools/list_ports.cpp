// Lists the serial ports that the flasher's port box offers, one per line.
#include <cstdio>

#include "util/ComPortList.h"

int main() {
  const auto ports = GetComPortList();
  if (ports.empty()) std::puts("(no serial port found)");
  for (const auto& port : ports) std::puts(port.c_str());
  return 0;
}

// Discovery of the PC's serial ports for the port boxes.
#pragma once

#include <string>
#include <vector>

#include "platform/Registry.h"

// The port names found in the machine registry: first the standard serial port devices,
// then the serial map, each once (case-insensitively; the first found wins). Never fails;
// the list may be empty.
std::vector<std::string> GetComPortList(const platform::RegistryReader& machine);

// The same over this machine's live view.
std::vector<std::string> GetComPortList();

#include <memory>
#include <string>
#include <vector>

#include "platform/MachineRegistry.h"
#include "platform/PortDescription.h"

namespace platform {

// The serial map names the driver's device behind each port (\Device\Serial0 for an
// on-board UART, \Device\VCP0 or \Device\USBSER000 for USB adapters): that much is known
// without opening anything.
std::string DescribePort(const std::string& path) {
  const std::unique_ptr<MemoryRegistry> machine = ScanMachineRegistry();
  std::vector<std::string> names;
  if (machine->ValueNames(kSerialCommKey, names) != RegStatus::Ok) return {};
  for (const std::string& name : names) {
    RegValue value;
    if (machine->ReadValue(kSerialCommKey, name, value) != RegStatus::Ok) continue;
    if (value.type != RegType::String || value.data != path) continue;
    if (name.starts_with("\\Device\\Serial"))
      return "serielle Schnittstelle der Hauptplatine (" + name + ")";
    return "serielle Schnittstelle (" + name + ")";
  }
  return {};
}

}  // namespace platform

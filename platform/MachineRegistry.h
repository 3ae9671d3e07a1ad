// The read-only machine view of the registry on Linux, as far as the components read it:
// the serial ports of the PC, under the two keys that port discovery reads.
//
//   \Enum\BIOS\*PNP0501\<ttyS name>   value "PortName": the on-board UARTs that exist
//                                      (ttyS* whose sysfs port type is not "unknown")
//   \hardware\devicemap\serialcomm     one value per other serial tty with a device
//                                      behind it (ttyUSB*, ttyACM*, ttyAMA*, ...), then one
//                                      per port registered at run time
//
// Port names are absolute paths that open the device. The view is a snapshot taken when
// it is made.
#pragma once

#include <memory>
#include <string>

#include "platform/MemoryRegistry.h"
#include "platform/PortRegistration.h"

namespace platform {

struct MachinePortSources {
  std::string sysfs_tty = "/sys/class/tty";
  std::string dev = "/dev";
  std::string registered = RegisteredPortsDir();
};

inline constexpr const char* kUartKey = "\\Enum\\BIOS\\*PNP0501";
inline constexpr const char* kSerialCommKey = "\\hardware\\devicemap\\serialcomm";

std::unique_ptr<MemoryRegistry> ScanMachineRegistry(const MachinePortSources& sources);
// The same keys of this machine's live registry: the scan of the standard sources on Linux,
// HKEY_LOCAL_MACHINE on Windows.
std::unique_ptr<MemoryRegistry> ScanMachineRegistry();

}  // namespace platform

// What a serial port is, in words a technician can match with the hardware in front of
// them: for a USB adapter its maker, product and serial number (from sysfs) and its stable
// name under /dev/serial/by-id/, for an on-board UART that it is one, for a
// pseudo-terminal (the device simulator's port) that it is one.
//
// Reads sysfs and /dev each time it is called; never fails. Any thread.
#pragma once

#include <string>

#include "platform/MachineRegistry.h"

namespace platform {

// A one-line German description of the port that `path` opens; empty when nothing is
// known about it. On Windows (PortDescriptionWin.cpp) the serial map's device name says
// what driver serves the port.
std::string DescribePort(const std::string& path);
// The same from the given sources (Linux).
std::string DescribePort(const std::string& path, const MachinePortSources& sources);

}  // namespace platform

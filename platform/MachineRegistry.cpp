#include "platform/MachineRegistry.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>

namespace platform {

namespace {

// ttyS2 before ttyS10: compare the letters, then the trailing number.
bool NaturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    std::size_t i = s.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1]))) --i;
    const std::string digits = s.substr(i);
    return std::pair{s.substr(0, i), digits.empty() ? -1L : std::stol(digits.substr(0, 9))};
  };
  return split(a) < split(b);
}

std::vector<std::string> TtyNames(const std::string& sysfs_tty) {
  std::vector<std::string> names;
  DIR* d = opendir(sysfs_tty.c_str());
  if (!d) return names;
  while (dirent* entry = readdir(d)) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  closedir(d);
  std::ranges::sort(names, NaturalLess);
  return names;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

bool IsCharDevice(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// An 8250-style port whose type reads 0 is a placeholder without hardware.
bool RealUart(const std::string& tty_dir) {
  std::ifstream type(tty_dir + "/type");
  int value = 0;
  return static_cast<bool>(type >> value) && value != 0;
}

}  // namespace

std::unique_ptr<MemoryRegistry> ScanMachineRegistry(const MachinePortSources& sources) {
  auto registry = std::make_unique<MemoryRegistry>();
  for (const std::string& name : TtyNames(sources.sysfs_tty)) {
    const std::string tty_dir = sources.sysfs_tty + "/" + name;
    const std::string device = sources.dev + "/" + name;
    if (!Exists(tty_dir + "/device") || !IsCharDevice(device)) continue;
    if (name.starts_with("ttyS")) {
      if (!RealUart(tty_dir)) continue;
      registry->WriteValue(std::string(kUartKey) + "\\" + name, "PortName", RegValue::Text(device));
    } else {
      registry->WriteValue(kSerialCommKey, "\\Device\\" + name, RegValue::Text(device));
    }
  }
  for (const RegisteredPort& port : ListRegisteredPorts(sources.registered)) {
    registry->WriteValue(kSerialCommKey, "\\Device\\" + port.name, RegValue::Text(port.path));
  }
  // A key exists only when it has something to list, as on a machine without such ports.
  return registry;
}

std::unique_ptr<MemoryRegistry> ScanMachineRegistry() {
  return ScanMachineRegistry(MachinePortSources{});
}

}  // namespace platform

#include "util/ComPortList.h"

#include <algorithm>

#include "platform/MachineRegistry.h"

namespace {

void AddIfString(const platform::RegistryReader& machine, const std::string& key,
                 const std::string& name, std::vector<std::string>& result) {
  platform::RegValue value;
  if (machine.ReadValue(key, name, value) != platform::RegStatus::Ok) return;
  if (value.type != platform::RegType::String) return;
  const bool known = std::ranges::any_of(result, [&](const std::string& port) {
    return platform::EqualsIgnoreAsciiCase(port, value.data);
  });
  if (!known) result.push_back(value.data);
}

}  // namespace

std::vector<std::string> GetComPortList(const platform::RegistryReader& machine) {
  std::vector<std::string> result;
  std::vector<std::string> names;
  if (machine.SubKeyNames(platform::kUartKey, names) == platform::RegStatus::Ok) {
    for (const std::string& sub : names)
      AddIfString(machine, std::string(platform::kUartKey) + "\\" + sub, "PortName", result);
  }
  if (machine.ValueNames(platform::kSerialCommKey, names) == platform::RegStatus::Ok) {
    for (const std::string& name : names)
      AddIfString(machine, platform::kSerialCommKey, name, result);
  }
  return result;
}

std::vector<std::string> GetComPortList() {
  return GetComPortList(*platform::ScanMachineRegistry());
}

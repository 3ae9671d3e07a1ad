#include "platform/PortDescription.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace platform {

namespace {

namespace fs = std::filesystem;

// The device node that `path` leads to: links are followed (a stable name, a registered
// port) until the path names an entry of the device folder itself.
fs::path DeviceOf(const std::string& path, const fs::path& dev) {
  fs::path p = fs::path(path).lexically_normal();
  for (int hop = 0; hop < 16; ++hop) {
    if (p.parent_path() == dev || p.parent_path() == dev / "pts") break;
    std::error_code error;
    if (!fs::is_symlink(p, error)) break;
    const fs::path target = fs::read_symlink(p, error);
    if (error) break;
    p = (target.is_absolute() ? target : p.parent_path() / target).lexically_normal();
  }
  return p;
}

std::string Resolved(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

// The first line of a sysfs attribute, without trailing blanks.
std::string Attribute(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t'))
    line.pop_back();
  return line;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    if (!text.empty()) text += ", ";
    text += part;
  }
  return text;
}

// The USB device a tty belongs to: the nearest folder above its sysfs device that has a
// vendor id (the interface and, for usb-serial, the port lie below it).
std::string UsbDevice(const std::string& device_dir) {
  std::string dir = Resolved(device_dir);
  for (int level = 0; level < 5 && dir.size() > 1; ++level) {
    if (Exists(dir + "/idVendor")) return dir;
    dir = dir.substr(0, dir.find_last_of('/'));
  }
  return {};
}

std::string UsbText(const std::string& usb) {
  const std::string maker = Attribute(usb + "/manufacturer");
  std::string product = Attribute(usb + "/product");
  // Many products repeat the maker's name; say it once.
  if (!maker.empty() && product.starts_with(maker)) product.erase(0, maker.size());
  while (!product.empty() && product.front() == ' ') product.erase(0, 1);
  std::string name = maker;
  if (!product.empty()) name += (name.empty() ? "" : " ") + product;
  const std::string serial = Attribute(usb + "/serial");
  const std::string id = Attribute(usb + "/idVendor") + ":" + Attribute(usb + "/idProduct");
  return Join({name.empty() ? "USB-Gerät" : name, serial.empty() ? "" : "Seriennummer " + serial,
               "USB " + id});
}

// The names under <dev>/serial/by-id/ that lead to `device`, sorted.
std::vector<std::string> StableNames(const fs::path& dev, const fs::path& device) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dev / "serial" / "by-id", error)) {
    if (DeviceOf(entry.path().string(), dev) == device) names.push_back(entry.path().string());
  }
  std::ranges::sort(names);
  return names;
}

}  // namespace

std::string DescribePort(const std::string& path, const MachinePortSources& sources) {
  const fs::path dev = fs::path(sources.dev).lexically_normal();
  const fs::path device = DeviceOf(path, dev);
  if (!Exists(device.string())) return {};
  const std::string name = device.filename().string();
  const std::string tty_dir = sources.sysfs_tty + "/" + name;
  std::vector<std::string> parts;
  if (device.parent_path() == dev / "pts") {
    parts.push_back("Pseudo-Terminal");
  } else if (device.parent_path() == dev && Exists(tty_dir + "/device")) {
    if (const std::string usb = UsbDevice(tty_dir + "/device"); !usb.empty()) {
      parts.push_back(UsbText(usb));
    } else if (name.starts_with("ttyS")) {
      parts.push_back("serielle Schnittstelle der Hauptplatine");
    } else {
      const std::string driver = Resolved(tty_dir + "/device/driver");
      parts.push_back(
          "serielle Schnittstelle" +
          (driver.empty() ? "" : " (" + driver.substr(driver.find_last_of('/') + 1) + ")"));
    }
  }
  if (parts.empty()) return {};
  const std::vector<std::string> stable = StableNames(dev, device);
  if (!stable.empty() && stable.front() != path)
    parts.push_back(stable.front());
  else if (device.string() != path)
    parts.push_back(device.string());  // a link, such as a registered port: where it leads
  return Join(parts);
}

std::string DescribePort(const std::string& path) { return DescribePort(path, {}); }

}  // namespace platform

#include "platform/PortRegistration.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

bool ValidName(const std::string& name) {
  if (name.empty() || name[0] == '.' || name.size() > 64) return false;
  return std::ranges::all_of(name, [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

std::string LockPath(const std::string& dir, const std::string& name) {
  return dir + "/." + name + ".lock";
}

// True when another open description holds the registration's lock.
bool LockHeld(const std::string& lock_path) {
  int fd = open(lock_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);  // also drops a shared lock we may just have taken
  return held;
}

bool MakeDirs(const std::string& dir) {
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    const std::string part = dir.substr(0, pos);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string RegisteredPortsDir() {
  if (const char* dir = std::getenv("QUENZHAL_PORTS_DIR"); dir && *dir) return dir;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::string(runtime) + "/quenzhal-ports";
  return "/tmp/quenzhal-ports-" + std::to_string(getuid());
}

std::unique_ptr<PortRegistration> PortRegistration::Create(const std::string& name,
                                                           const std::string& device,
                                                           std::string& error,
                                                           const std::string& dir) {
  if (!ValidName(name)) {
    error = "invalid port name '" + name + "'";
    return nullptr;
  }
  if (device.empty() || device[0] != '/') {
    error = "device path must be absolute: '" + device + "'";
    return nullptr;
  }
  if (!MakeDirs(dir)) {
    error = "cannot create " + dir + ": " + std::strerror(errno);
    return nullptr;
  }
  const std::string lock = LockPath(dir, name);
  int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create " + lock + ": " + std::strerror(errno);
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = "the port name '" + name + "' is registered by another process";
    close(fd);
    return nullptr;
  }
  const std::string link = dir + "/" + name;
  unlink(link.c_str());  // a dead process's leftover
  if (symlink(device.c_str(), link.c_str()) != 0) {
    error = "cannot create " + link + ": " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<PortRegistration>(new PortRegistration(link, lock, fd));
}

PortRegistration::~PortRegistration() {
  unlink(link_.c_str());
  unlink(lock_.c_str());
  close(lock_fd_);
}

std::vector<RegisteredPort> ListRegisteredPorts(const std::string& dir) {
  std::vector<RegisteredPort> ports;
  DIR* d = opendir(dir.c_str());
  if (!d) return ports;
  while (dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (!ValidName(name)) continue;
    const std::string link = dir + "/" + name;
    struct stat st {};
    if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
    if (stat(link.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
    if (!LockHeld(LockPath(dir, name))) continue;
    ports.push_back({name, link});
  }
  closedir(d);
  std::ranges::sort(ports, {}, &RegisteredPort::name);
  return ports;
}

}  // namespace platform

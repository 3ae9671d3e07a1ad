#include "platform/UucpLock.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

std::string Resolved(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) ? std::string(buffer) : path;
}

bool Alive(int pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

std::string PidText(int pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", pid);
  return text;
}

enum class LockState { None, Live, Stale };

// What the lock file at `path` says; `pid` is set for a live holder.
LockState ReadLock(const std::string& path, int& pid) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? LockState::None : LockState::Stale;
  char text[32] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  pid = 0;
  if (n > 0) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    while (end && (*end == ' ' || *end == '\n' || *end == '\r')) ++end;
    if (end != text && *end == '\0' && value > 0 && value <= INT_MAX)
      pid = static_cast<int>(value);
    else if (n == static_cast<ssize_t>(sizeof(int)))
      std::memcpy(&pid, text, sizeof(int));  // the old binary form
  }
  return pid > 0 && Alive(pid) ? LockState::Live : LockState::Stale;
}

std::string ReadLine(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char text[64] = {};
  const ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  std::string line(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  if (const std::size_t nl = line.find('\n'); nl != std::string::npos) line.resize(nl);
  return line;
}

bool AllDigits(const char* name) {
  if (!*name) return false;
  for (; *name; ++name)
    if (*name < '0' || *name > '9') return false;
  return true;
}

// A process other than this one with a descriptor on `device`.
std::optional<int> OpenedBy(const std::string& device, const std::string& proc) {
  DIR* processes = opendir(proc.c_str());
  if (!processes) return std::nullopt;
  std::optional<int> found;
  const std::string self = std::to_string(getpid());
  while (!found) {
    const dirent* p = readdir(processes);
    if (!p) break;
    if (!AllDigits(p->d_name) || self == p->d_name) continue;
    const std::string fds = proc + "/" + p->d_name + "/fd";
    DIR* d = opendir(fds.c_str());
    if (!d) continue;
    while (const dirent* f = readdir(d)) {
      char target[PATH_MAX];
      const ssize_t n = readlink((fds + "/" + f->d_name).c_str(), target, sizeof target);
      if (n > 0 && device.compare(0, std::string::npos, target, static_cast<std::size_t>(n)) == 0) {
        found = std::atoi(p->d_name);
        break;
      }
    }
    closedir(d);
  }
  closedir(processes);
  return found;
}

}  // namespace

std::string UucpLockName(const std::string& device) {
  std::string name;
  if (device.starts_with("/dev/")) {
    name = device.substr(5);
    for (char& c : name)
      if (c == '/') c = '_';
  } else {
    const std::size_t slash = device.find_last_of('/');
    name = slash == std::string::npos ? device : device.substr(slash + 1);
  }
  return "LCK.." + name;
}

UucpLock& UucpLock::operator=(UucpLock&& other) noexcept {
  if (this != &other) {
    Release();
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

std::uint32_t UucpLock::Acquire(const std::string& dir, const std::string& device) {
  Release();
  const std::string path = dir + "/" + UucpLockName(Resolved(device));
  const std::string mine = PidText(getpid());
  // A few rounds: another program may take or drop the lock while we look.
  for (int round = 0; round < 3; ++round) {
    int pid = 0;
    switch (ReadLock(path, pid)) {
      case LockState::Live:
        return EBUSY;
      case LockState::Stale:
        // Where the stale file cannot be removed, no lock can be kept there at all.
        if (unlink(path.c_str()) != 0 && errno != ENOENT) return 0;
        break;
      case LockState::None:
        break;
    }
    // Written under another name first and linked into place, so that nobody ever reads a
    // lock file without its pid.
    std::string temp = dir + "/LTMP.XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return 0;  // no such folder, or not writable: nobody can lock there
    const bool written = fchmod(fd, 0644) == 0 &&
                         write(fd, mine.data(), mine.size()) == static_cast<ssize_t>(mine.size());
    close(fd);
    const int linked = written ? link(temp.c_str(), path.c_str()) : -1;
    const int link_error = errno;
    unlink(temp.c_str());
    if (linked == 0) {
      path_ = path;
      return 0;
    }
    if (!written || link_error != EEXIST) return 0;
  }
  return EBUSY;
}

void UucpLock::Release() {
  if (path_.empty()) return;
  // Only our own file goes: one that holds another pid is not ours any more.
  int pid = 0;
  if (ReadLock(path_, pid) == LockState::Live && pid == getpid()) unlink(path_.c_str());
  path_.clear();
}

std::optional<int> UucpLockHolder(const std::string& dir, const std::string& device) {
  int pid = 0;
  if (ReadLock(dir + "/" + UucpLockName(Resolved(device)), pid) == LockState::Live) return pid;
  return std::nullopt;
}

std::optional<PortHolder> FindPortHolder(const std::string& device, const std::string& lock_dir,
                                         const std::string& proc) {
  const std::string resolved = Resolved(device);
  std::optional<int> pid = UucpLockHolder(lock_dir, resolved);
  if (!pid) pid = OpenedBy(resolved, proc);
  if (!pid) return std::nullopt;
  return PortHolder{*pid, ReadLine(proc + "/" + std::to_string(*pid) + "/comm")};
}

}  // namespace platform

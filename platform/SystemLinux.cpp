#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/System.h"

namespace platform {

// Linux keeps a nice value per thread. Two steps above the process's own match "highest"
// among the normal levels; real-time scheduling is not used, as a runaway real-time thread
// could freeze the machine.
bool RaiseThreadPriority() {
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, tid);
  if (nice == -1 && errno != 0) return false;
  return setpriority(PRIO_PROCESS, tid, nice - 2) == 0;
}

std::int32_t OsVersion() {
  utsname name{};
  if (uname(&name) != 0) return 0;
  int major = 0;
  int minor = 0;
  if (std::sscanf(name.release, "%d.%d", &major, &minor) < 1) return 0;
  return (major & 0xFF) | ((minor & 0xFF) << 8);
}

bool LocalTime(std::time_t seconds, std::tm& tm) {
  return localtime_r(&seconds, &tm) != nullptr;
}

std::FILE* OpenForReading(const std::string& path) {
  return std::fopen(path.c_str(), "rbe");
}

std::string FileNamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExecutablePath(const char* argv0) {
  return argv0 ? argv0 : "";
}

std::string DevicePath(const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  return "/dev/" + name.substr(0, kPortNameLimit);
}

std::uint32_t InvalidHandleError() { return EBADF; }

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

}  // namespace platform

// UUCP lock files: how serial programs on Linux tell each other that a port is in use. The
// file <dir>/LCK..<device name> holds the pid of the process that uses the device, as ten
// right-aligned ASCII characters and a newline. A file whose process is gone is stale and
// is removed; so is one that holds no pid at all, which no program would ever clear.
//
// Device names are taken after following links, so a port opened by its stable name
// (/dev/serial/by-id/...) is locked under the name other programs use (LCK..ttyUSB0).
// Below /dev a subfolder's slash becomes '_' (/dev/pts/3: LCK..pts_3).
//
// Main thread only; a lock belongs to one opened port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace platform {

inline constexpr const char* kUucpLockDir = "/run/lock";

// "LCK..ttyUSB0" for "/dev/ttyUSB0" (the path is used as given).
std::string UucpLockName(const std::string& device);

class UucpLock {
 public:
  UucpLock() = default;
  ~UucpLock() { Release(); }
  UucpLock(UucpLock&& other) noexcept : path_(std::exchange(other.path_, {})) {}
  UucpLock& operator=(UucpLock&& other) noexcept;
  UucpLock(const UucpLock&) = delete;
  UucpLock& operator=(const UucpLock&) = delete;

  // Takes the lock for `device` in `dir`. 0 when the port may be opened: the lock file is
  // ours now, or none can be written there (no such folder, not writable), where nobody
  // can keep a lock. EBUSY when a live process holds the lock.
  std::uint32_t Acquire(const std::string& dir, const std::string& device);
  // Removes the lock file, if this lock made it and it still holds our pid.
  void Release();
  // The lock file this lock holds, empty if none.
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// The pid of the live process whose lock file in `dir` names `device`.
std::optional<int> UucpLockHolder(const std::string& dir, const std::string& device);

struct PortHolder {
  int pid = 0;
  std::string program;  // its command name, empty when it cannot be read
};

// Who holds `device`, where that can be known: the live pid of its lock file, else another
// process that has the device open (as far as `proc` shows other processes' descriptors).
std::optional<PortHolder> FindPortHolder(const std::string& device,
                                         const std::string& lock_dir = kUucpLockDir,
                                         const std::string& proc = "/proc");

}  // namespace platform

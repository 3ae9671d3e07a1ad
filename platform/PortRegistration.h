// Serial ports registered at run time, such as the device simulator's pseudo-terminal.
//
// A registration is a symbolic link <dir>/<name> to the device, so the name the user sees
// is the path that opens it, plus a lock file that the registering process holds for as
// long as the registration lives. Registrations of processes that died without cleaning up
// are recognised by their free lock and ignored.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

// $QUENZHAL_PORTS_DIR, else $XDG_RUNTIME_DIR/quenzhal-ports, else /tmp/quenzhal-ports-<uid>.
std::string RegisteredPortsDir();

struct RegisteredPort {
  std::string name;  // the registration's name
  std::string path;  // absolute path of the link; opening it opens the device
};

class PortRegistration {
 public:
  // Registers `device` (an absolute path) as `name` in `dir`. A name may hold letters,
  // digits, '-', '_' and '.', and must not start with '.'. Fails with a readable reason
  // when the name is taken by a live registration or the directory cannot be used.
  static std::unique_ptr<PortRegistration> Create(const std::string& name,
                                                  const std::string& device, std::string& error,
                                                  const std::string& dir = RegisteredPortsDir());
  ~PortRegistration();
  PortRegistration(const PortRegistration&) = delete;
  PortRegistration& operator=(const PortRegistration&) = delete;

  const std::string& Path() const { return link_; }

 private:
  PortRegistration(std::string link, std::string lock, int lock_fd)
      : link_(std::move(link)), lock_(std::move(lock)), lock_fd_(lock_fd) {}
  std::string link_;
  std::string lock_;
  int lock_fd_;
};

// Live registrations in `dir` whose device exists, sorted by name.
std::vector<RegisteredPort> ListRegisteredPorts(const std::string& dir = RegisteredPortsDir());

}  // namespace platform

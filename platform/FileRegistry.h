// The current user's registry on Linux: one text file in the user's configuration folder,
// in the manner of an exported registry file:
//
//   [Software\Quenzhal\DaVevureRezDefaultSettings]
//   "ComPort"=sz:"/dev/ttyUSB0"
//   "Count"=dword:08,00,00,00
//   "Blob"=hex:01,ff
//
// Numbers and binary values alike are their stored bytes in order, as hex pairs.
// Quotes, backslashes, control characters and DEL are written as escapes (\", \\, \xHH), so
// every byte value survives.
//
// Every operation reads the file once. A change (WriteValues for a whole set) is one
// atomic replacement of the file under an advisory lock beside it, waited for at most
// LockWait(); it rewrites only the lines of the values it changes, so every other byte
// stays. A store that is a symbolic link is written through to its target. A file that is
// not a regular one, or larger than kMaxFileSize, is refused unread; so is a folder of
// another user or one that others may write. A damaged line makes the values of its key
// unreadable (a line that may have been a key line also every key the file lacks), the
// other keys stay readable, and the file is never overwritten. Key and value names holding CR or
// LF, and key names beginning with "[", cannot be stored and are refused. FailureText() says why
// the last call failed.
//
// Thread safety: one instance per thread; separate instances and processes may share the
// file.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "platform/Registry.h"

namespace platform {

// $QUENZHAL_REGISTRY_FILE, else $XDG_CONFIG_HOME/quenzhal/registry.reg, else
// $HOME/.config/quenzhal/registry.reg, else the same below the home folder of the user's
// account; empty when there is none.
std::string DefaultUserRegistryPath();

class FileRegistry final : public Registry {
 public:
  static constexpr std::size_t kMaxFileSize = 1024 * 1024;
  static constexpr std::chrono::milliseconds kDefaultLockWait{2000};

  explicit FileRegistry(std::string path = DefaultUserRegistryPath());

  RegStatus KeyExists(std::string_view key) const override;
  RegStatus SubKeyNames(std::string_view key, std::vector<std::string>& names) const override;
  RegStatus ValueNames(std::string_view key, std::vector<std::string>& names) const override;
  RegStatus ReadValue(std::string_view key, std::string_view name, RegValue& value) const override;
  RegStatus ReadValues(std::string_view key, RegValues& values) const override;
  RegStatus CreateKey(std::string_view key) override;
  RegStatus WriteValue(std::string_view key, std::string_view name, const RegValue& value) override;
  RegStatus WriteValues(std::string_view key, const RegValues& values) override;
  RegStatus DeleteValue(std::string_view key, std::string_view name) override;
  std::string FailureText() const override { return failure_; }

  const std::string& Path() const { return path_; }
  // The longest wait for another program's change.
  void SetLockWait(std::chrono::milliseconds wait) { lock_wait_ = wait; }

  // What this instance did to the file, for tests and the benchmark.
  struct Counters {
    int reads = 0;     // the file read
    int replaces = 0;  // the file replaced
    int fsyncs = 0;
  };
  const Counters& Count() const { return counters_; }

  struct Parsed;

 private:
  // Reads and parses the file; false (with failure_) when it cannot be read.
  bool Load(Parsed& parsed) const;
  template <class Change>
  RegStatus Modify(std::string_view key, const std::vector<std::string_view>& names, Change change);
  RegStatus Fail(std::string why) const;

  std::string path_;
  std::chrono::milliseconds lock_wait_ = kDefaultLockWait;
  mutable std::string failure_;
  mutable Counters counters_;
};

// The process-wide store of the current user (at DefaultUserRegistryPath(), fixed at the
// first call). Main thread only.
Registry& UserRegistry();

}  // namespace platform

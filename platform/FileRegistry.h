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
// every byte value survives. Every write rewrites the file atomically (a temporary file,
// synced, then renamed over the old one) under an advisory lock, so a crash never leaves a
// half-written file and two programs writing at once do not lose each other's values.
// A damaged or unreadable file makes every operation fail; it is never overwritten.
//
// Thread safety: one instance per thread; separate instances and processes may share the
// file.
#pragma once

#include <memory>
#include <string>

#include "platform/MemoryRegistry.h"

namespace platform {

// $QUENZHAL_REGISTRY_FILE, else $XDG_CONFIG_HOME/quenzhal/registry.reg, else
// $HOME/.config/quenzhal/registry.reg.
std::string DefaultUserRegistryPath();

class FileRegistry final : public Registry {
 public:
  explicit FileRegistry(std::string path = DefaultUserRegistryPath());

  RegStatus KeyExists(std::string_view key) const override;
  RegStatus SubKeyNames(std::string_view key, std::vector<std::string>& names) const override;
  RegStatus ValueNames(std::string_view key, std::vector<std::string>& names) const override;
  RegStatus ReadValue(std::string_view key, std::string_view name, RegValue& value) const override;
  RegStatus CreateKey(std::string_view key) override;
  RegStatus WriteValue(std::string_view key, std::string_view name, const RegValue& value) override;
  RegStatus DeleteValue(std::string_view key, std::string_view name) override;

  const std::string& Path() const { return path_; }

 private:
  // The file's tree; an empty tree when the file does not exist, null when it cannot be
  // read or parsed.
  std::unique_ptr<MemoryRegistry> Load() const;
  bool Save(const MemoryRegistry& tree) const;
  template <class Change>
  RegStatus Modify(Change change);

  std::string path_;
};

// The process-wide store of the current user (at DefaultUserRegistryPath(), fixed at the
// first call). Main thread only.
Registry& UserRegistry();

// The text form of a tree, and back (null for text that is not such a file).
std::string FormatRegistryFile(const RegistryReader& tree);
std::unique_ptr<MemoryRegistry> ParseRegistryFile(const std::string& text);

}  // namespace platform

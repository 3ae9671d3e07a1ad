// The registry seam on the Windows registry: the current user's part (where the components
// keep their default settings) and the machine's (where port discovery looks).
//
// Key paths are below the root, optionally below a base key. Names and string data are the
// seam's UTF-8 texts as the registry's wide strings (platform/WinText.h), so a character
// setting 0..255 is stored as that one character; strings are REG_SZ, numbers REG_DWORD,
// blobs REG_BINARY.
//
// Thread safety: one instance per thread; the registry itself may be shared.
#pragma once

#include <string>

#include "platform/Registry.h"

namespace platform {

enum class RegistryRoot { CurrentUser, LocalMachine };

class WindowsRegistry final : public Registry {
 public:
  explicit WindowsRegistry(RegistryRoot root, std::string base = {});

  RegStatus KeyExists(std::string_view key) const override;
  RegStatus SubKeyNames(std::string_view key, std::vector<std::string>& names) const override;
  RegStatus ValueNames(std::string_view key, std::vector<std::string>& names) const override;
  RegStatus ReadValue(std::string_view key, std::string_view name, RegValue& value) const override;
  RegStatus CreateKey(std::string_view key) override;
  RegStatus WriteValue(std::string_view key, std::string_view name, const RegValue& value) override;
  RegStatus DeleteValue(std::string_view key, std::string_view name) override;

  // Removes the key with everything below it (tests clean their scratch key up).
  RegStatus DeleteTree(std::string_view key);

 private:
  std::wstring Path(std::string_view key) const;
  RegistryRoot root_;
  std::string base_;
};

}  // namespace platform

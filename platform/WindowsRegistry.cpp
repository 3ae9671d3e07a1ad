#include "platform/WindowsRegistry.h"

#include <windows.h>

#include <memory>

#include "platform/FileRegistry.h"
#include "platform/MachineRegistry.h"
#include "platform/WinText.h"

namespace platform {

namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

RegStatus Status(LSTATUS result) {
  if (result == ERROR_SUCCESS) return RegStatus::Ok;
  if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND) return RegStatus::NotFound;
  return RegStatus::Failed;
}

// An open key, closed when it goes.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

RegStatus Open(HKEY root, const std::wstring& path, REGSAM access, Key& key) {
  return Status(RegOpenKeyExW(root, path.c_str(), 0, access, key.Out()));
}

RegType TypeOf(DWORD type) {
  switch (type) {
    case REG_SZ:
      return RegType::String;
    case REG_EXPAND_SZ:
      return RegType::ExpandString;
    case REG_DWORD:
      return RegType::Dword;
    case REG_MULTI_SZ:
      return RegType::MultiString;
    default:
      return RegType::Binary;
  }
}

DWORD WinType(RegType type) {
  switch (type) {
    case RegType::String:
      return REG_SZ;
    case RegType::ExpandString:
      return REG_EXPAND_SZ;
    case RegType::Dword:
      return REG_DWORD;
    case RegType::MultiString:
      return REG_MULTI_SZ;
    case RegType::Binary:
      break;
  }
  return REG_BINARY;
}

bool IsText(RegType type) {
  return type == RegType::String || type == RegType::ExpandString || type == RegType::MultiString;
}

}  // namespace

WindowsRegistry::WindowsRegistry(RegistryRoot root, std::string base)
    : root_(root), base_(std::move(base)) {}

std::wstring WindowsRegistry::Path(std::string_view key) const {
  std::string path;
  for (const std::string& part : SplitKeyPath(base_)) path += (path.empty() ? "" : "\\") + part;
  for (const std::string& part : SplitKeyPath(key)) path += (path.empty() ? "" : "\\") + part;
  return WideFromUtf8(path);
}

RegStatus WindowsRegistry::KeyExists(std::string_view key) const {
  Key k;
  return Open(RootKey(root_), Path(key), KEY_READ, k);
}

RegStatus WindowsRegistry::SubKeyNames(std::string_view key,
                                       std::vector<std::string>& names) const {
  names.clear();
  Key k;
  if (const RegStatus s = Open(RootKey(root_), Path(key), KEY_READ, k); s != RegStatus::Ok)
    return s;
  // Key names are at most 255 characters.
  std::wstring name(256, L'\0');
  for (DWORD i = 0;; ++i) {
    DWORD size = static_cast<DWORD>(name.size());
    const LSTATUS r =
        RegEnumKeyExW(k.Get(), i, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) return RegStatus::Ok;
    if (r != ERROR_SUCCESS) return RegStatus::Failed;
    names.push_back(Utf8FromWide(std::wstring_view(name.data(), size)));
  }
}

RegStatus WindowsRegistry::ValueNames(std::string_view key, std::vector<std::string>& names) const {
  names.clear();
  Key k;
  if (const RegStatus s = Open(RootKey(root_), Path(key), KEY_READ, k); s != RegStatus::Ok)
    return s;
  DWORD longest = 0;
  if (RegQueryInfoKeyW(k.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       &longest, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
    return RegStatus::Failed;
  std::wstring name(longest + 1, L'\0');
  for (DWORD i = 0;; ++i) {
    DWORD size = static_cast<DWORD>(name.size());
    const LSTATUS r =
        RegEnumValueW(k.Get(), i, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) return RegStatus::Ok;
    if (r != ERROR_SUCCESS) return RegStatus::Failed;
    names.push_back(Utf8FromWide(std::wstring_view(name.data(), size)));
  }
}

RegStatus WindowsRegistry::ReadValue(std::string_view key, std::string_view name,
                                     RegValue& value) const {
  Key k;
  if (const RegStatus s = Open(RootKey(root_), Path(key), KEY_READ, k); s != RegStatus::Ok)
    return s;
  const std::wstring wname = WideFromUtf8(name);
  for (int attempt = 0; attempt < 4; ++attempt) {  // the value may grow between the calls
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS r = RegQueryValueExW(k.Get(), wname.c_str(), nullptr, &type, nullptr, &size);
    if (r != ERROR_SUCCESS) return Status(r);
    std::string data(size, '\0');
    r = RegQueryValueExW(k.Get(), wname.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size);
    if (r == ERROR_MORE_DATA) continue;
    if (r != ERROR_SUCCESS) return Status(r);
    data.resize(size);
    value.type = TypeOf(type);
    if (IsText(value.type)) {
      std::wstring wide(data.size() / sizeof(wchar_t), L'\0');
      std::copy_n(data.data(), wide.size() * sizeof(wchar_t), reinterpret_cast<char*>(wide.data()));
      // The stored terminator is not part of the text (a string stored without one is whole).
      if (value.type != RegType::MultiString && !wide.empty() && wide.back() == L'\0')
        wide.pop_back();
      value.data = Utf8FromWide(wide);
    } else {
      value.data = std::move(data);
    }
    return RegStatus::Ok;
  }
  return RegStatus::Failed;
}

RegStatus WindowsRegistry::CreateKey(std::string_view key) {
  Key k;
  return Status(RegCreateKeyExW(RootKey(root_), Path(key).c_str(), 0, nullptr, 0, KEY_WRITE,
                                nullptr, k.Out(), nullptr));
}

RegStatus WindowsRegistry::WriteValue(std::string_view key, std::string_view name,
                                      const RegValue& value) {
  Key k;
  const LSTATUS r = RegCreateKeyExW(RootKey(root_), Path(key).c_str(), 0, nullptr, 0, KEY_WRITE,
                                    nullptr, k.Out(), nullptr);
  if (r != ERROR_SUCCESS) return Status(r);
  std::string data = value.data;
  if (IsText(value.type)) {
    std::wstring wide = WideFromUtf8(value.data);
    if (value.type != RegType::MultiString) wide += L'\0';
    data.assign(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
  }
  return Status(RegSetValueExW(k.Get(), WideFromUtf8(name).c_str(), 0, WinType(value.type),
                               reinterpret_cast<const BYTE*>(data.data()),
                               static_cast<DWORD>(data.size())));
}

RegStatus WindowsRegistry::DeleteValue(std::string_view key, std::string_view name) {
  Key k;
  if (const RegStatus s = Open(RootKey(root_), Path(key), KEY_SET_VALUE, k); s != RegStatus::Ok)
    return s;
  return Status(RegDeleteValueW(k.Get(), WideFromUtf8(name).c_str()));
}

RegStatus WindowsRegistry::DeleteTree(std::string_view key) {
  return Status(RegDeleteTreeW(RootKey(root_), Path(key).c_str())) == RegStatus::Failed
             ? RegStatus::Failed
             : Status(RegDeleteKeyW(RootKey(root_), Path(key).c_str()));
}

Registry& UserRegistry() {
  static WindowsRegistry registry(RegistryRoot::CurrentUser);
  return registry;
}

// A snapshot of the two keys port discovery reads, in the registry's own order.
std::unique_ptr<MemoryRegistry> ScanMachineRegistry() {
  auto snapshot = std::make_unique<MemoryRegistry>();
  const WindowsRegistry machine(RegistryRoot::LocalMachine);
  std::vector<std::string> names;
  if (machine.SubKeyNames(kUartKey, names) == RegStatus::Ok) {
    for (const std::string& sub : names) {
      const std::string key = std::string(kUartKey) + "\\" + sub;
      RegValue value;
      if (machine.ReadValue(key, "PortName", value) == RegStatus::Ok)
        snapshot->WriteValue(key, "PortName", value);
      else
        snapshot->CreateKey(key);
    }
  }
  if (machine.ValueNames(kSerialCommKey, names) == RegStatus::Ok) {
    snapshot->CreateKey(kSerialCommKey);
    for (const std::string& name : names) {
      RegValue value;
      if (machine.ReadValue(kSerialCommKey, name, value) == RegStatus::Ok)
        snapshot->WriteValue(kSerialCommKey, name, value);
    }
  }
  return snapshot;
}

}  // namespace platform

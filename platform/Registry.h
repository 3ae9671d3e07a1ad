// The registry seam: a tree of keys holding named, typed values.
//
// Key paths are separated by backslashes; a leading backslash is optional. Key and value
// names compare without regard to ASCII letter case, as the components expect. Value data
// are bytes; string values hold 8-bit text.
//
// Thread safety: an instance is used from one thread at a time (the main thread).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/AsciiCase.h"

namespace platform {

enum class RegType { String, ExpandString, Dword, Binary, MultiString };

struct RegValue {
  RegType type = RegType::String;
  std::string data;

  static RegValue Text(std::string text) { return {RegType::String, std::move(text)}; }
  bool operator==(const RegValue&) const = default;
};

using RegValues = std::vector<std::pair<std::string, RegValue>>;

enum class RegStatus {
  Ok,
  NotFound,  // the key or value does not exist
  Failed,    // the store could not be read or written
};

// Read access, as to the machine's part of the registry.
class RegistryReader {
 public:
  virtual ~RegistryReader() = default;

  virtual RegStatus KeyExists(std::string_view key) const = 0;
  // Names of the direct subkeys, in the store's enumeration order.
  virtual RegStatus SubKeyNames(std::string_view key, std::vector<std::string>& names) const = 0;
  // Names of the key's values, in the store's enumeration order.
  virtual RegStatus ValueNames(std::string_view key, std::vector<std::string>& names) const = 0;
  virtual RegStatus ReadValue(std::string_view key, std::string_view name,
                              RegValue& value) const = 0;

  // Every value of the key, in enumeration order, as one read: a store that keeps its
  // values in a file reads it once, so they all come from one state of it. The default
  // asks for them one by one.
  virtual RegStatus ReadValues(std::string_view key, RegValues& values) const {
    values.clear();
    std::vector<std::string> names;
    if (const RegStatus status = ValueNames(key, names); status != RegStatus::Ok) return status;
    for (std::string& name : names) {
      RegValue value;
      if (const RegStatus status = ReadValue(key, name, value); status != RegStatus::Ok)
        return status;
      values.emplace_back(std::move(name), std::move(value));
    }
    return RegStatus::Ok;
  }

  // Why the last call that returned Failed failed, in words for the user (German); empty
  // when the store cannot say more.
  virtual std::string FailureText() const { return {}; }
};

// Read and write access, as to the current user's part of the registry.
class Registry : public RegistryReader {
 public:
  // Creates the key and its missing parents.
  virtual RegStatus CreateKey(std::string_view key) = 0;
  // Writes a value, creating the key when missing.
  virtual RegStatus WriteValue(std::string_view key, std::string_view name,
                               const RegValue& value) = 0;
  virtual RegStatus DeleteValue(std::string_view key, std::string_view name) = 0;

  // Writes several values into one key (created when missing) as one change: a store that
  // keeps its values in a file replaces it once, so a reader sees all of them or none. The
  // default writes them one by one and stops at the first failure.
  virtual RegStatus WriteValues(std::string_view key, const RegValues& values) {
    if (const RegStatus status = CreateKey(key); status != RegStatus::Ok) return status;
    for (const auto& [name, value] : values)
      if (const RegStatus status = WriteValue(key, name, value); status != RegStatus::Ok)
        return status;
    return RegStatus::Ok;
  }
};

// Splits a key path into its names; empty parts (doubled or outer backslashes) are dropped.
std::vector<std::string> SplitKeyPath(std::string_view key);

}  // namespace platform

// Stores for the settings tests: a scratch file store, and a store that starts failing
// after a number of writes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/FileRegistry.h"
#include "platform/MemoryRegistry.h"

namespace settings_test {

// A fresh folder per test with the path of a store file in it; removed afterwards.
class ScratchStore {
 public:
  ScratchStore() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() / ("settings-" + std::to_string(getpid()) + "-" +
                                                     info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "quenzhal" / "registry.reg").string();
  }
  ~ScratchStore() { std::filesystem::remove_all(dir_); }
  ScratchStore(const ScratchStore&) = delete;
  ScratchStore& operator=(const ScratchStore&) = delete;

  const std::string& Path() const { return path_; }
  std::string Text() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void SetText(const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
    std::ofstream(path_, std::ios::binary) << text;
  }

 private:
  std::filesystem::path dir_;
  std::string path_;
};

// Forwards to an in-memory store; every write after the first `good_writes` fails.
class FailingAfter final : public platform::Registry {
 public:
  explicit FailingAfter(int good_writes) : left_(good_writes) {}

  platform::RegStatus KeyExists(std::string_view key) const override { return tree.KeyExists(key); }
  platform::RegStatus SubKeyNames(std::string_view key,
                                  std::vector<std::string>& names) const override {
    return tree.SubKeyNames(key, names);
  }
  platform::RegStatus ValueNames(std::string_view key,
                                 std::vector<std::string>& names) const override {
    return tree.ValueNames(key, names);
  }
  platform::RegStatus ReadValue(std::string_view key, std::string_view name,
                                platform::RegValue& value) const override {
    return tree.ReadValue(key, name, value);
  }
  platform::RegStatus CreateKey(std::string_view key) override { return tree.CreateKey(key); }
  platform::RegStatus WriteValue(std::string_view key, std::string_view name,
                                 const platform::RegValue& value) override {
    if (left_ <= 0) return platform::RegStatus::Failed;
    --left_;
    return tree.WriteValue(key, name, value);
  }
  platform::RegStatus DeleteValue(std::string_view key, std::string_view name) override {
    return tree.DeleteValue(key, name);
  }

  platform::MemoryRegistry tree;

 private:
  int left_;
};

// The text of a stored value, or "<missing>" / "<not text>".
inline std::string Stored(const platform::RegistryReader& store, const std::string& key,
                          const std::string& name) {
  platform::RegValue value;
  if (store.ReadValue(key, name, value) != platform::RegStatus::Ok) return "<missing>";
  return value.type == platform::RegType::String ? value.data : "<not text>";
}

}  // namespace settings_test

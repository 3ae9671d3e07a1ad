// In-memory registry: the test double of the registry seam, and the tree behind the
// machine view of serial ports. Enumeration order is creation order.
#pragma once

#include <memory>

#include "platform/Registry.h"

namespace platform {

class MemoryRegistry final : public Registry {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;
  MemoryRegistry(const MemoryRegistry&) = delete;
  MemoryRegistry& operator=(const MemoryRegistry&) = delete;

  RegStatus KeyExists(std::string_view key) const override;
  RegStatus SubKeyNames(std::string_view key, std::vector<std::string>& names) const override;
  RegStatus ValueNames(std::string_view key, std::vector<std::string>& names) const override;
  RegStatus ReadValue(std::string_view key, std::string_view name, RegValue& value) const override;
  RegStatus CreateKey(std::string_view key) override;
  RegStatus WriteValue(std::string_view key, std::string_view name, const RegValue& value) override;
  RegStatus DeleteValue(std::string_view key, std::string_view name) override;

  // Failure injection for tests: every call fails with RegStatus::Failed while set.
  void SetFailing(bool failing) { failing_ = failing; }
  // Counts writes, so tests can see that nothing was written.
  int WriteCount() const { return writes_; }

 private:
  struct Node;
  Node* Find(std::string_view key) const;

  std::unique_ptr<Node> root_;
  bool failing_ = false;
  int writes_ = 0;
};

}  // namespace platform

#include "platform/MemoryRegistry.h"

#include <algorithm>

namespace platform {

std::vector<std::string> SplitKeyPath(std::string_view key) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= key.size()) {
    std::size_t end = key.find('\\', start);
    if (end == std::string_view::npos) end = key.size();
    if (end > start) parts.emplace_back(key.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

struct MemoryRegistry::Node {
  std::string name;
  std::vector<std::unique_ptr<Node>> children;
  std::vector<std::pair<std::string, RegValue>> values;

  Node* Child(std::string_view child_name) const {
    for (const auto& child : children)
      if (EqualsIgnoreAsciiCase(child->name, child_name)) return child.get();
    return nullptr;
  }
  auto Value(std::string_view value_name) {
    return std::ranges::find_if(
        values, [&](const auto& v) { return EqualsIgnoreAsciiCase(v.first, value_name); });
  }
};

MemoryRegistry::MemoryRegistry() : root_(std::make_unique<Node>()) {}
MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::Node* MemoryRegistry::Find(std::string_view key) const {
  Node* node = root_.get();
  for (const std::string& part : SplitKeyPath(key)) {
    node = node->Child(part);
    if (!node) return nullptr;
  }
  return node;
}

RegStatus MemoryRegistry::KeyExists(std::string_view key) const {
  if (failing_) return RegStatus::Failed;
  return Find(key) ? RegStatus::Ok : RegStatus::NotFound;
}

RegStatus MemoryRegistry::SubKeyNames(std::string_view key, std::vector<std::string>& names) const {
  names.clear();
  if (failing_) return RegStatus::Failed;
  const Node* node = Find(key);
  if (!node) return RegStatus::NotFound;
  for (const auto& child : node->children) names.push_back(child->name);
  return RegStatus::Ok;
}

RegStatus MemoryRegistry::ValueNames(std::string_view key, std::vector<std::string>& names) const {
  names.clear();
  if (failing_) return RegStatus::Failed;
  const Node* node = Find(key);
  if (!node) return RegStatus::NotFound;
  for (const auto& value : node->values) names.push_back(value.first);
  return RegStatus::Ok;
}

RegStatus MemoryRegistry::ReadValue(std::string_view key, std::string_view name,
                                    RegValue& value) const {
  if (failing_) return RegStatus::Failed;
  Node* node = Find(key);
  if (!node) return RegStatus::NotFound;
  auto it = node->Value(name);
  if (it == node->values.end()) return RegStatus::NotFound;
  value = it->second;
  return RegStatus::Ok;
}

RegStatus MemoryRegistry::CreateKey(std::string_view key) {
  if (failing_) return RegStatus::Failed;
  Node* node = root_.get();
  for (const std::string& part : SplitKeyPath(key)) {
    Node* child = node->Child(part);
    if (!child) {
      node->children.push_back(std::make_unique<Node>());
      child = node->children.back().get();
      child->name = part;
    }
    node = child;
  }
  return RegStatus::Ok;
}

RegStatus MemoryRegistry::WriteValue(std::string_view key, std::string_view name,
                                     const RegValue& value) {
  if (CreateKey(key) != RegStatus::Ok) return RegStatus::Failed;
  Node* node = Find(key);
  auto it = node->Value(name);
  if (it == node->values.end())
    node->values.emplace_back(std::string(name), value);
  else
    it->second = value;
  ++writes_;
  return RegStatus::Ok;
}

RegStatus MemoryRegistry::DeleteValue(std::string_view key, std::string_view name) {
  if (failing_) return RegStatus::Failed;
  Node* node = Find(key);
  if (!node) return RegStatus::NotFound;
  auto it = node->Value(name);
  if (it == node->values.end()) return RegStatus::NotFound;
  node->values.erase(it);
  return RegStatus::Ok;
}

}  // namespace platform

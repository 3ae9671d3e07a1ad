#include "platform/FileRegistry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace platform {

namespace {

constexpr const char* kHeader = "; per-user settings of the MirbaZento flasher\n";

const char* TypeName(RegType type) {
  switch (type) {
    case RegType::String:
      return "sz";
    case RegType::ExpandString:
      return "expand_sz";
    case RegType::MultiString:
      return "multi_sz";
    case RegType::Dword:
      return "dword";
    case RegType::Binary:
      return "hex";
  }
  return "hex";
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02x", b);
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text at `pos`; false when it is malformed.
bool ReadQuoted(std::string_view line, std::size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  out.clear();
  for (++pos; pos < line.size(); ++pos) {
    const char c = line[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++pos >= line.size()) return false;
    if (line[pos] == '"' || line[pos] == '\\') {
      out += line[pos];
    } else if (line[pos] == 'x' && pos + 2 < line.size() && HexDigit(line[pos + 1]) >= 0 &&
               HexDigit(line[pos + 2]) >= 0) {
      out += static_cast<char>(HexDigit(line[pos + 1]) * 16 + HexDigit(line[pos + 2]));
      pos += 2;
    } else {
      return false;
    }
  }
  return false;
}

bool ReadHexBytes(std::string_view text, std::string& out) {
  out.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (pos + 1 >= text.size() || HexDigit(text[pos]) < 0 || HexDigit(text[pos + 1]) < 0)
      return false;
    out += static_cast<char>(HexDigit(text[pos]) * 16 + HexDigit(text[pos + 1]));
    pos += 2;
    if (pos < text.size() && text[pos++] != ',') return false;
  }
  return true;
}

void FormatKey(const RegistryReader& tree, const std::string& path, std::string& out) {
  std::vector<std::string> names;
  tree.ValueNames(path, names);
  if (!path.empty()) {
    out += '[';
    out += path;
    out += "]\n";
  }
  for (const std::string& name : names) {
    RegValue value;
    if (tree.ReadValue(path, name, value) != RegStatus::Ok) continue;
    AppendQuoted(out, name);
    out += '=';
    out += TypeName(value.type);
    out += ':';
    switch (value.type) {
      case RegType::String:
      case RegType::ExpandString:
      case RegType::MultiString:
        AppendQuoted(out, value.data);
        break;
      case RegType::Dword:
      case RegType::Binary:
        for (std::size_t i = 0; i < value.data.size(); ++i) {
          char hex[4];
          std::snprintf(hex, sizeof hex, i ? ",%02x" : "%02x",
                        static_cast<unsigned char>(value.data[i]));
          out += hex;
        }
        break;
    }
    out += '\n';
  }
  std::vector<std::string> subkeys;
  tree.SubKeyNames(path, subkeys);
  for (const std::string& sub : subkeys)
    FormatKey(tree, path.empty() ? sub : path + "\\" + sub, out);
}

bool ReadWholeFile(const std::string& path, std::string& text, bool& missing) {
  missing = false;
  text.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    missing = errno == ENOENT;
    return missing;
  }
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

std::string Directory(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool MakeDirs(const std::string& dir) {
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    if (mkdir(dir.substr(0, pos).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Holds an exclusive advisory lock beside the file for the duration of a change.
class WriteLock {
 public:
  explicit WriteLock(const std::string& path) {
    fd_ = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0 && flock(fd_, LOCK_EX) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~WriteLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

std::string DefaultUserRegistryPath() {
  if (const char* file = std::getenv("QUENZHAL_REGISTRY_FILE"); file && *file) return file;
  std::string base;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
    base = config;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::string(home) + "/.config";
  else
    base = "/tmp";
  return base + "/quenzhal/registry.reg";
}

Registry& UserRegistry() {
  static FileRegistry registry;
  return registry;
}

std::string FormatRegistryFile(const RegistryReader& tree) {
  std::string out = kHeader;
  FormatKey(tree, "", out);
  return out;
}

std::unique_ptr<MemoryRegistry> ParseRegistryFile(const std::string& text) {
  auto tree = std::make_unique<MemoryRegistry>();
  std::string key;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const std::size_t close = line.find_last_of(']');
      if (close == std::string::npos || close != line.size() - 1) return nullptr;
      key = line.substr(1, close - 1);
      tree->CreateKey(key);
      continue;
    }
    std::size_t pos = 0;
    std::string name;
    if (!ReadQuoted(line, pos, name) || pos >= line.size() || line[pos] != '=') return nullptr;
    const std::size_t colon = line.find(':', pos);
    if (colon == std::string::npos) return nullptr;
    const std::string type = line.substr(pos + 1, colon - pos - 1);
    RegValue value;
    std::size_t data_pos = colon + 1;
    if (type == "sz" || type == "expand_sz" || type == "multi_sz") {
      value.type = type == "sz"          ? RegType::String
                   : type == "expand_sz" ? RegType::ExpandString
                                         : RegType::MultiString;
      if (!ReadQuoted(line, data_pos, value.data) || data_pos != line.size()) return nullptr;
    } else if (type == "dword" || type == "hex") {
      value.type = type == "dword" ? RegType::Dword : RegType::Binary;
      if (!ReadHexBytes(std::string_view(line).substr(data_pos), value.data)) return nullptr;
    } else {
      return nullptr;
    }
    tree->WriteValue(key, name, value);
  }
  return tree;
}

FileRegistry::FileRegistry(std::string path) : path_(std::move(path)) {}

std::unique_ptr<MemoryRegistry> FileRegistry::Load() const {
  std::string text;
  bool missing = false;
  if (!ReadWholeFile(path_, text, missing)) return nullptr;
  if (missing) return std::make_unique<MemoryRegistry>();
  return ParseRegistryFile(text);
}

bool FileRegistry::Save(const MemoryRegistry& tree) const {
  const std::string dir = Directory(path_);
  if (!MakeDirs(dir)) return false;
  const std::string temp = path_ + ".tmp." + std::to_string(getpid());
  const std::string text = FormatRegistryFile(tree);
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool written = done == text.size() && fsync(fd) == 0;
  if (close(fd) != 0 || !written || rename(temp.c_str(), path_.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  if (const int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  return true;
}

template <class Change>
RegStatus FileRegistry::Modify(Change change) {
  if (!MakeDirs(Directory(path_))) return RegStatus::Failed;
  WriteLock lock(path_);
  if (!lock.Held()) return RegStatus::Failed;
  auto tree = Load();
  if (!tree) return RegStatus::Failed;
  const RegStatus status = change(*tree);
  if (status != RegStatus::Ok) return status;
  return Save(*tree) ? RegStatus::Ok : RegStatus::Failed;
}

RegStatus FileRegistry::KeyExists(std::string_view key) const {
  auto tree = Load();
  return tree ? tree->KeyExists(key) : RegStatus::Failed;
}

RegStatus FileRegistry::SubKeyNames(std::string_view key, std::vector<std::string>& names) const {
  names.clear();
  auto tree = Load();
  return tree ? tree->SubKeyNames(key, names) : RegStatus::Failed;
}

RegStatus FileRegistry::ValueNames(std::string_view key, std::vector<std::string>& names) const {
  names.clear();
  auto tree = Load();
  return tree ? tree->ValueNames(key, names) : RegStatus::Failed;
}

RegStatus FileRegistry::ReadValue(std::string_view key, std::string_view name,
                                  RegValue& value) const {
  auto tree = Load();
  return tree ? tree->ReadValue(key, name, value) : RegStatus::Failed;
}

RegStatus FileRegistry::CreateKey(std::string_view key) {
  return Modify([&](MemoryRegistry& tree) { return tree.CreateKey(key); });
}

RegStatus FileRegistry::WriteValue(std::string_view key, std::string_view name,
                                   const RegValue& value) {
  return Modify([&](MemoryRegistry& tree) { return tree.WriteValue(key, name, value); });
}

RegStatus FileRegistry::DeleteValue(std::string_view key, std::string_view name) {
  return Modify([&](MemoryRegistry& tree) { return tree.DeleteValue(key, name); });
}

}  // namespace platform

#include "platform/FileRegistry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "platform/FileRegistryIo.h"

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

std::string ValueLine(std::string_view name, const RegValue& value) {
  std::string out;
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
  return out;
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

bool ParseValueLine(std::string_view line, std::string& name, RegValue& value) {
  std::size_t pos = 0;
  if (!ReadQuoted(line, pos, name) || pos >= line.size() || line[pos] != '=') return false;
  const std::size_t colon = line.find(':', pos);
  if (colon == std::string_view::npos) return false;
  const std::string_view type = line.substr(pos + 1, colon - pos - 1);
  std::size_t data_pos = colon + 1;
  if (type == "sz" || type == "expand_sz" || type == "multi_sz") {
    value.type = type == "sz"          ? RegType::String
                 : type == "expand_sz" ? RegType::ExpandString
                                       : RegType::MultiString;
    return ReadQuoted(line, data_pos, value.data) && data_pos == line.size();
  }
  if (type == "dword" || type == "hex") {
    value.type = type == "dword" ? RegType::Dword : RegType::Binary;
    return ReadHexBytes(line.substr(data_pos), value.data);
  }
  return false;
}

std::string Fold(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A key path with its empty parts dropped, as the file names it.
std::string NormalKey(std::string_view key) {
  std::string out;
  for (const std::string& part : SplitKeyPath(key)) {
    if (!out.empty()) out += '\\';
    out += part;
  }
  return out;
}

struct Range {
  std::size_t begin, end;  // bytes of a whole line, its line end included
};

struct Value {
  std::string name;
  RegValue value;
  std::vector<Range> lines;  // more than one when the file names it twice: the last counts
};

struct Key {
  std::string name;           // as the file spells it first
  std::size_t insert_at = 0;  // where new values go: after its last value line
  int damaged_line = 0;       // first line of it that does not parse, 0 for none
  std::vector<Value> values;  // in the order of the file
  std::unordered_map<std::string, std::size_t> index;  // folded value name -> values
};

}  // namespace

struct FileRegistry::Parsed {
  std::string text;
  bool exists = false;
  std::vector<Key> keys;  // keys[0] is the root, the values before any key line
  std::unordered_map<std::string, std::size_t> index;  // folded key -> keys
  int stray_damage = 0;  // a damaged line that may have been a key line: what follows it
                         // belongs to no known key
  int first_damage = 0;

  Parsed() {
    keys.emplace_back();
    index.emplace("", 0);
  }

  const Key* Find(std::string_view key) const {
    const auto it = index.find(Fold(NormalKey(key)));
    return it == index.end() ? nullptr : &keys[it->second];
  }
  // Whether `key` is a key or the parent of one.
  bool Exists(std::string_view key) const {
    if (Find(key)) return true;
    const std::string prefix = Fold(NormalKey(key)) + '\\';
    return std::any_of(keys.begin(), keys.end(),
                       [&](const Key& k) { return Fold(k.name).starts_with(prefix); });
  }

  void Parse() {
    std::size_t current = 0;
    bool nowhere = false;  // after a damaged key line
    std::size_t pos = 0;
    int number = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      end = end == std::string::npos ? text.size() : end + 1;
      const Range range{pos, end};
      std::string_view line(text.data() + pos, end - pos);
      pos = end;
      ++number;
      if (line.ends_with('\n')) line.remove_suffix(1);
      if (line.ends_with('\r')) line.remove_suffix(1);
      if (line.empty() || line[0] == ';' || line[0] == '#') continue;
      if (line[0] == '[') {
        if (!line.ends_with(']') || line.size() < 2) {
          if (!stray_damage) stray_damage = number;
          if (!first_damage) first_damage = number;
          nowhere = true;
          continue;
        }
        nowhere = false;
        const std::string name = NormalKey(line.substr(1, line.size() - 2));
        const auto [it, added] = index.emplace(Fold(name), keys.size());
        if (added) {
          keys.emplace_back();
          keys.back().name = name;
        }
        current = it->second;
        if (added) keys[current].insert_at = range.end;
        continue;
      }
      if (nowhere) continue;
      Key& key = keys[current];
      std::string name;
      RegValue value;
      if (!ParseValueLine(line, name, value)) {
        if (!key.damaged_line) key.damaged_line = number;
        if (!first_damage) first_damage = number;
        // No value line at all: it may be a key line that lost its bracket, so the values
        // after it may be another key's.
        if (line[0] != '"') {
          if (!stray_damage) stray_damage = number;
          nowhere = true;
        }
        continue;
      }
      const auto [it, added] = key.index.emplace(Fold(name), key.values.size());
      if (added)
        key.values.push_back({std::move(name), std::move(value), {}});
      else
        key.values[it->second].value = std::move(value);
      key.values[it->second].lines.push_back(range);
      key.insert_at = range.end;
    }
  }
};

namespace {

bool Storable(std::string_view name, bool key) {
  if (name.find_first_of("\r\n") != std::string_view::npos) return false;
  if (!key) return true;
  for (const std::string& part : SplitKeyPath(name))
    if (part.starts_with('[')) return false;
  return true;
}

std::string DamageText(const std::string& path, int line) {
  return path + ", Zeile " + std::to_string(line) +
         ", ist beschädigt. Die Datei wird nicht überschrieben; berichtigen oder löschen Sie " +
         path + ", um wieder speichern zu können";
}

// One change of the file's text: the bytes in [begin, end) become `text`.
struct Edit {
  std::size_t begin, end;
  std::string text;
};

std::string Applied(const std::string& text, std::vector<Edit> edits) {
  std::stable_sort(edits.begin(), edits.end(),
                   [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
  std::string out;
  out.reserve(text.size() + 256);
  std::size_t pos = 0;
  for (const Edit& edit : edits) {
    out.append(text, pos, edit.begin - pos);
    out += edit.text;
    pos = edit.end;
  }
  out.append(text, pos, std::string::npos);
  return out;
}

// The edits that give `key` these values (others of the key stay); none when it has them.
void WriteEdits(const FileRegistry::Parsed& file, std::string_view key, const RegValues& values,
                std::vector<Edit>& edits) {
  const Key* found = file.Find(key);
  std::string added;
  for (const auto& [name, value] : values) {
    const std::string line = ValueLine(name, value);
    const Value* old = nullptr;
    if (found)
      if (const auto it = found->index.find(Fold(name)); it != found->index.end())
        old = &found->values[it->second];
    if (!old) {
      added += line;
      continue;
    }
    for (std::size_t i = 0; i + 1 < old->lines.size(); ++i)
      edits.push_back({old->lines[i].begin, old->lines[i].end, ""});
    const Range last = old->lines.back();
    if (std::string_view(file.text).substr(last.begin, last.end - last.begin) != line)
      edits.push_back({last.begin, last.end, line});
  }
  if (found) {
    if (!added.empty()) {
      // After the last value line, which may lack its line end at the end of the file.
      const std::size_t at = found->insert_at;
      if (at > 0 && file.text[at - 1] != '\n') added.insert(added.begin(), '\n');
      edits.push_back({at, at, std::move(added)});
    }
    return;
  }
  std::string section;
  if (file.text.empty())
    section = kHeader;
  else if (file.text.back() != '\n')
    section = "\n";
  section += '[' + NormalKey(key) + "]\n" + added;
  edits.push_back({file.text.size(), file.text.size(), std::move(section)});
}

}  // namespace

std::string DefaultUserRegistryPath() {
  if (const char* file = std::getenv("QUENZHAL_REGISTRY_FILE"); file && *file) return file;
  std::string base;
  // Relative folders are ignored, as the desktop's folder convention says.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
    base = config;
  else if (const char* home = std::getenv("HOME"); home && *home == '/')
    base = std::string(home) + "/.config";
  else if (const std::string account = file_store::AccountHomeFolder(); !account.empty())
    base = account + "/.config";
  else
    return {};
  return base + "/quenzhal/registry.reg";
}

Registry& UserRegistry() {
  static FileRegistry registry;
  return registry;
}

FileRegistry::FileRegistry(std::string path) : path_(std::move(path)) {}

RegStatus FileRegistry::Fail(std::string why) const {
  failure_ = std::move(why);
  return RegStatus::Failed;
}

namespace {

std::string Folder(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file the store's path stands for, after its folders are checked; empty with `why`
// when the store must not be used. `missing`: a folder does not exist (reading only).
std::string Target(const std::string& path, bool create, bool& missing, std::string& why) {
  missing = false;
  if (path.empty()) {
    why =
        "kein Ordner für die Einstellungen: weder XDG_CONFIG_HOME noch HOME noch ein "
        "Benutzerkonto nennt einen";
    return {};
  }
  if (!file_store::CheckFolder(Folder(path), create, missing, why) || missing) return {};
  std::string target = file_store::ResolveLinks(path, why);
  if (target.empty()) return {};
  if (target != path && (!file_store::CheckFolder(Folder(target), create, missing, why) || missing))
    return {};
  return target;
}

}  // namespace

bool FileRegistry::Load(Parsed& parsed) const {
  std::string why;
  bool missing = false;
  const std::string target = Target(path_, false, missing, why);
  if (missing) return true;
  if (target.empty()) {
    Fail(why);
    return false;
  }
  ++counters_.reads;
  switch (file_store::ReadStore(target, kMaxFileSize, parsed.text, why)) {
    case file_store::ReadResult::Missing:
      return true;
    case file_store::ReadResult::Failed:
      Fail(why);
      return false;
    case file_store::ReadResult::Ok:
      break;
  }
  parsed.exists = true;
  parsed.Parse();
  return true;
}

template <class Change>
RegStatus FileRegistry::Modify(std::string_view key, const std::vector<std::string_view>& names,
                               Change change) {
  if (!Storable(key, true))
    return Fail("der Schlüssel \"" + std::string(key) +
                "\" enthält einen Zeilenumbruch oder beginnt mit \"[\" und kann nicht "
                "gespeichert werden");
  for (std::string_view name : names)
    if (!Storable(name, false))
      return Fail("der Name \"" + std::string(name) +
                  "\" enthält einen Zeilenumbruch und kann nicht gespeichert werden");
  std::string why;
  bool missing = false;
  const std::string target = Target(path_, true, missing, why);
  if (target.empty()) return Fail(why);
  const auto lock = file_store::LockStore(target, lock_wait_, why);
  if (!lock) return Fail(why);
  file_store::RemoveStaleTemporaries(target);
  Parsed file;
  ++counters_.reads;
  switch (file_store::ReadStore(target, kMaxFileSize, file.text, why)) {
    case file_store::ReadResult::Failed:
      return Fail(why);
    case file_store::ReadResult::Missing:
      break;
    case file_store::ReadResult::Ok:
      file.exists = true;
      file.Parse();
      break;
  }
  if (file.first_damage) return Fail(DamageText(target, file.first_damage));
  std::vector<Edit> edits;
  const RegStatus status = change(file, edits);
  if (status != RegStatus::Ok || (edits.empty() && file.exists)) return status;
  const std::string text = Applied(file.text, std::move(edits));
  if (text.size() > kMaxFileSize)
    return Fail(target + " würde größer als " + std::to_string(kMaxFileSize / 1024) +
                " KiB; nichts gespeichert");
  if (!file_store::ReplaceStore(target, text, counters_.fsyncs, why)) return Fail(why);
  ++counters_.replaces;
  return RegStatus::Ok;
}

RegStatus FileRegistry::KeyExists(std::string_view key) const {
  Parsed file;
  if (!Load(file)) return RegStatus::Failed;
  if (const Key* k = file.Find(key); k && k->damaged_line)
    return Fail(DamageText(path_, k->damaged_line));
  if (file.Exists(key)) return RegStatus::Ok;
  return file.stray_damage ? Fail(DamageText(path_, file.stray_damage)) : RegStatus::NotFound;
}

RegStatus FileRegistry::SubKeyNames(std::string_view key, std::vector<std::string>& names) const {
  names.clear();
  const RegStatus exists = KeyExists(key);
  if (exists != RegStatus::Ok) return exists;
  Parsed file;
  if (!Load(file)) return RegStatus::Failed;
  const std::string base = NormalKey(key);
  const std::string prefix = base.empty() ? "" : Fold(base) + '\\';
  std::unordered_map<std::string, bool> seen;
  for (const Key& k : file.keys) {
    if (k.name.empty() || !Fold(k.name).starts_with(prefix)) continue;
    std::string child = k.name.substr(prefix.size());
    child = child.substr(0, child.find('\\'));
    if (seen.emplace(Fold(child), true).second) names.push_back(std::move(child));
  }
  return RegStatus::Ok;
}

RegStatus FileRegistry::ValueNames(std::string_view key, std::vector<std::string>& names) const {
  names.clear();
  RegValues values;
  const RegStatus status = ReadValues(key, values);
  for (auto& value : values) names.push_back(std::move(value.first));
  return status;
}

RegStatus FileRegistry::ReadValues(std::string_view key, RegValues& values) const {
  values.clear();
  Parsed file;
  if (!Load(file)) return RegStatus::Failed;
  const Key* k = file.Find(key);
  if (k && k->damaged_line) return Fail(DamageText(path_, k->damaged_line));
  if (!k) {
    // A damaged key line may have been this key's.
    if (file.stray_damage) return Fail(DamageText(path_, file.stray_damage));
    return file.Exists(key) ? RegStatus::Ok : RegStatus::NotFound;
  }
  for (const Value& value : k->values) values.emplace_back(value.name, value.value);
  return RegStatus::Ok;
}

RegStatus FileRegistry::ReadValue(std::string_view key, std::string_view name,
                                  RegValue& value) const {
  RegValues values;
  const RegStatus status = ReadValues(key, values);
  if (status != RegStatus::Ok) return status;
  for (auto& [n, v] : values)
    if (EqualsIgnoreAsciiCase(n, name)) {
      value = std::move(v);
      return RegStatus::Ok;
    }
  return RegStatus::NotFound;
}

RegStatus FileRegistry::CreateKey(std::string_view key) {
  return Modify(key, {}, [&](const Parsed& file, std::vector<Edit>& edits) {
    if (!file.Exists(key)) WriteEdits(file, key, {}, edits);
    return RegStatus::Ok;
  });
}

RegStatus FileRegistry::WriteValue(std::string_view key, std::string_view name,
                                   const RegValue& value) {
  return WriteValues(key, {{std::string(name), value}});
}

RegStatus FileRegistry::WriteValues(std::string_view key, const RegValues& values) {
  std::vector<std::string_view> names;
  for (const auto& value : values) names.push_back(value.first);
  return Modify(key, names, [&](const Parsed& file, std::vector<Edit>& edits) {
    WriteEdits(file, key, values, edits);
    return RegStatus::Ok;
  });
}

RegStatus FileRegistry::DeleteValue(std::string_view key, std::string_view name) {
  return Modify(key, {name}, [&](const Parsed& file, std::vector<Edit>& edits) {
    const Key* k = file.Find(key);
    if (!k) return RegStatus::NotFound;
    const auto it = k->index.find(Fold(name));
    if (it == k->index.end()) return RegStatus::NotFound;
    for (const Range& line : k->values[it->second].lines)
      edits.push_back({line.begin, line.end, ""});
    return RegStatus::Ok;
  });
}

}  // namespace platform

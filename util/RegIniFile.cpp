#include "util/RegIniFile.h"

#include <algorithm>

#include "util/ByteText.h"

using platform::RegStatus;
using platform::RegType;
using platform::RegValue;

std::optional<std::int64_t> ParseSettingsNumber(std::string_view text, std::int64_t Min,
                                                std::int64_t Max) {
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) {
    if (Min >= 0) return std::nullopt;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 19) return std::nullopt;  // 19 digits fit 63 bits
  std::uint64_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
  }
  if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
    return std::nullopt;
  const auto value = negative ? -static_cast<std::int64_t>(magnitude)
                              : static_cast<std::int64_t>(magnitude);
  if (value < Min || value > Max) return std::nullopt;
  return value;
}

std::string SettingsFailureText(std::string_view text, const std::exception& failure) {
  std::string out(text);
  if (dynamic_cast<const RegIniError*>(&failure) && *failure.what()) {
    out += ": ";
    out += failure.what();
  }
  return out;
}

std::string TRegIniFile::Key(std::string_view Section) const {
  std::string key = fRegkey;
  key += '\\';
  key += Section;
  return key;
}

void TRegIniFile::WriteString(std::string_view Section, std::string_view Ident,
                              const ByteString& Value) {
  auto section = std::find_if(fPending.begin(), fPending.end(),
                              [&](const auto& s) { return s.first == Section; });
  if (section == fPending.end()) {
    fPending.emplace_back(std::string(Section), platform::RegValues{});
    section = std::prev(fPending.end());
  }
  auto& values = section->second;
  const auto value = std::find_if(values.begin(), values.end(), [&](const auto& v) {
    return platform::EqualsIgnoreAsciiCase(v.first, Ident);
  });
  if (value != values.end())
    value->second = RegValue::Text(Value);
  else
    values.emplace_back(std::string(Ident), RegValue::Text(Value));
}

void TRegIniFile::UpdateFile() {
  auto pending = std::move(fPending);
  fPending.clear();
  fReadSection.reset();
  for (const auto& [section, values] : pending)
    if (fRegistry.WriteValues(Key(section), values) != RegStatus::Ok)
      throw RegIniError(fRegistry.FailureText());
}

void TRegIniFile::WriteInteger(std::string_view Section, std::string_view Ident,
                               std::int64_t Value) {
  WriteString(Section, Ident, std::to_string(Value));
}

void TRegIniFile::WriteBool(std::string_view Section, std::string_view Ident, bool Value) {
  WriteString(Section, Ident, Value ? "1" : "0");
}

void TRegIniFile::WriteChar(std::string_view Section, std::string_view Ident, char Value) {
  WriteString(Section, Ident, Latin1ToUtf8(std::string_view(&Value, 1)));
}

std::optional<std::string> TRegIniFile::ReadText(std::string_view Section,
                                                 std::string_view Ident) const {
  if (fReadSection != Section) {
    fReadSection.reset();
    switch (fRegistry.ReadValues(Key(Section), fRead)) {
      case RegStatus::Ok:
        break;
      case RegStatus::NotFound:
        fRead.clear();
        break;
      case RegStatus::Failed:
        throw RegIniError(fRegistry.FailureText());
    }
    fReadSection = std::string(Section);
  }
  const auto value = std::find_if(fRead.begin(), fRead.end(), [&](const auto& v) {
    return platform::EqualsIgnoreAsciiCase(v.first, Ident);
  });
  if (value == fRead.end()) return std::nullopt;
  // Not a text: a failure without the store's reason (the store itself is sound).
  if (value->second.type != RegType::String && value->second.type != RegType::ExpandString)
    throw RegIniError("");
  return value->second.data;
}

ByteString TRegIniFile::ReadString(std::string_view Section, std::string_view Ident,
                                   const ByteString& Default) const {
  return ReadText(Section, Ident).value_or(Default);
}

std::int64_t TRegIniFile::ReadInteger(std::string_view Section, std::string_view Ident,
                                      std::int64_t Default, std::int64_t Min,
                                      std::int64_t Max) const {
  const auto text = ReadText(Section, Ident);
  if (!text) return Default;
  return ParseSettingsNumber(*text, Min, Max).value_or(Default);
}

bool TRegIniFile::ReadBool(std::string_view Section, std::string_view Ident, bool Default) const {
  return ReadNumber<std::int32_t>(Section, Ident, Default ? 1 : 0) != 0;
}

char TRegIniFile::ReadChar(std::string_view Section, std::string_view Ident, char Default) const {
  const auto text = ReadText(Section, Ident);
  if (!text) return Default;
  return FirstChar(Utf8ToLatin1(*text));
}

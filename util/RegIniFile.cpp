#include "util/RegIniFile.h"

#include "util/ByteText.h"

using platform::RegStatus;
using platform::RegType;
using platform::RegValue;

std::optional<std::int64_t> ParseSettingsNumber(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (!text.empty() && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return std::nullopt;
    value = value * base + digit;
    if (value > 0xFFFFFFFFll) return std::nullopt;
  }
  return negative ? -value : value;
}

std::string TRegIniFile::Key(std::string_view Section) const {
  std::string key = fRegkey;
  key += '\\';
  key += Section;
  return key;
}

void TRegIniFile::CreateKey() {
  if (fRegistry.CreateKey(fRegkey) != RegStatus::Ok)
    throw RegIniError("cannot create the key " + fRegkey);
}

void TRegIniFile::WriteString(std::string_view Section, std::string_view Ident,
                              const ByteString& Value) {
  if (fRegistry.WriteValue(Key(Section), Ident, RegValue::Text(Value)) != RegStatus::Ok)
    throw RegIniError("cannot write " + std::string(Ident));
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
  RegValue value;
  switch (fRegistry.ReadValue(Key(Section), Ident, value)) {
    case RegStatus::Ok:
      break;
    case RegStatus::NotFound:
      return std::nullopt;
    case RegStatus::Failed:
      throw RegIniError("cannot read " + std::string(Ident));
  }
  if (value.type != RegType::String && value.type != RegType::ExpandString)
    throw RegIniError(std::string(Ident) + " is not a string value");
  return std::move(value.data);
}

ByteString TRegIniFile::ReadString(std::string_view Section, std::string_view Ident,
                                   const ByteString& Default) const {
  return ReadText(Section, Ident).value_or(Default);
}

std::int64_t TRegIniFile::ReadInteger(std::string_view Section, std::string_view Ident,
                                      std::int64_t Default) const {
  const auto text = ReadText(Section, Ident);
  if (!text) return Default;
  return ParseSettingsNumber(*text).value_or(Default);
}

bool TRegIniFile::ReadBool(std::string_view Section, std::string_view Ident, bool Default) const {
  return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

char TRegIniFile::ReadChar(std::string_view Section, std::string_view Ident, char Default) const {
  const auto text = ReadText(Section, Ident);
  if (!text) return Default;
  return FirstChar(Utf8ToLatin1(*text));
}

// The settings convention the three components share: every value is a string under
// <Regkey>\<Section> of the current user's registry: numbers in decimal, flags "1" or "0",
// a character as a text of exactly that one character.
//
// A character value 0..255 is the character U+0000..U+00FF; the store keeps it as UTF-8
// text, and reading converts the text back to 8-bit characters and takes the first one
// (FirstChar), so that every value, 0 included, comes back as it went in.
//
// Every failing store call, and a value that is not of a string type, throws RegIniError;
// the components catch it and give their failure report. A missing key or value reads as
// the caller's default.
//
// Thread safety: as the registry it works on (one thread at a time).
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/Registry.h"
#include "util/ByteString.h"

class RegIniError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TRegIniFile {
 public:
  TRegIniFile(platform::Registry& Registry, std::string Regkey)
      : fRegistry(Registry), fRegkey(std::move(Regkey)) {}

  // Creates the key <Regkey> when it is missing.
  void CreateKey();

  void WriteString(std::string_view Section, std::string_view Ident, const ByteString& Value);
  void WriteInteger(std::string_view Section, std::string_view Ident, std::int64_t Value);
  void WriteBool(std::string_view Section, std::string_view Ident, bool Value);
  void WriteChar(std::string_view Section, std::string_view Ident, char Value);

  ByteString ReadString(std::string_view Section, std::string_view Ident,
                        const ByteString& Default) const;
  // A text that is not a number (an empty one included) also gives Default. The caller
  // keeps the bits that fit its field.
  std::int64_t ReadInteger(std::string_view Section, std::string_view Ident,
                           std::int64_t Default) const;
  // Any number but 0 is true.
  bool ReadBool(std::string_view Section, std::string_view Ident, bool Default) const;
  char ReadChar(std::string_view Section, std::string_view Ident, char Default) const;

 private:
  std::string Key(std::string_view Section) const;
  // The stored text, nothing when the key or the value is missing.
  std::optional<std::string> ReadText(std::string_view Section, std::string_view Ident) const;

  platform::Registry& fRegistry;
  std::string fRegkey;
};

// A number as the settings store it: an optional sign, then decimal digits or "$" and
// hexadecimal digits, at most 32 bits of magnitude. Nothing for any other text.
std::optional<std::int64_t> ParseSettingsNumber(std::string_view text);

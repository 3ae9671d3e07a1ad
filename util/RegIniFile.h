// The settings convention the three components share: every value is a string under
// <Regkey>\<Section> of the current user's registry: numbers in decimal, flags "1" or "0",
// a character as a text of exactly that one character.
//
// A character value 0..255 is the character U+0000..U+00FF; the store keeps it as UTF-8
// text, and reading converts the text back to 8-bit characters and takes the first one
// (FirstChar), so that every value, 0 included, comes back as it went in.
//
// Reading takes all values of a section in one read of the store (so they come from one
// state of it); writing collects the values and UpdateFile writes each section's set as one
// change, which a file store makes one atomic replacement.
//
// Every failing store call, and a value that is not of a string type, throws RegIniError
// (what() is the store's reason, possibly empty); the components catch it and give their
// failure report. A missing key or value reads as the caller's default.
//
// Thread safety: as the registry it works on (one thread at a time).
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

  // Collected until UpdateFile.
  void WriteString(std::string_view Section, std::string_view Ident, const ByteString& Value);
  void WriteInteger(std::string_view Section, std::string_view Ident, std::int64_t Value);
  void WriteBool(std::string_view Section, std::string_view Ident, bool Value);
  void WriteChar(std::string_view Section, std::string_view Ident, char Value);

  // Writes what was collected, one change per section; throws RegIniError when the store
  // refuses it (nothing of that section is then written on a store that changes at once).
  void UpdateFile();

  ByteString ReadString(std::string_view Section, std::string_view Ident,
                        const ByteString& Default) const;
  // A text that is not a number in Min..Max (ParseSettingsNumber) gives Default.
  std::int64_t ReadInteger(std::string_view Section, std::string_view Ident, std::int64_t Default,
                           std::int64_t Min, std::int64_t Max) const;
  // The same within the range of the field's type.
  template <class T>
  T ReadNumber(std::string_view Section, std::string_view Ident, T Default) const {
    return static_cast<T>(ReadInteger(Section, Ident, Default, std::numeric_limits<T>::min(),
                                      std::numeric_limits<T>::max()));
  }
  // Any 32-bit number but 0 is true.
  bool ReadBool(std::string_view Section, std::string_view Ident, bool Default) const;
  char ReadChar(std::string_view Section, std::string_view Ident, char Default) const;

 private:
  std::string Key(std::string_view Section) const;
  // The stored text, nothing when the key or the value is missing.
  std::optional<std::string> ReadText(std::string_view Section, std::string_view Ident) const;

  platform::Registry& fRegistry;
  std::string fRegkey;
  // The section read last, as one read of the store.
  mutable std::optional<std::string> fReadSection;
  mutable platform::RegValues fRead;
  // The values waiting for UpdateFile, per section in the order of their first write.
  std::vector<std::pair<std::string, platform::RegValues>> fPending;
};

// A number as the settings store it and the settings dialogs take it: decimal digits, with
// a minus in front only where Min is below 0, within Min..Max. Nothing for any other text
// (blanks, "+", "$" hexadecimal, an empty text).
std::optional<std::int64_t> ParseSettingsNumber(std::string_view text, std::int64_t Min,
                                                std::int64_t Max);

// A component's failure report: `text` with the store's reason, if it gave one.
std::string SettingsFailureText(std::string_view text, const std::exception& failure);

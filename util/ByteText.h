// Small conversions between bytes, character values and text.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/UserMessages.h"
#include "util/ByteString.h"

// The platform's string-to-integer conversion failed; what() is the German message shown
// to the user, naming the rejected text.
class ConversionError : public std::runtime_error {
 public:
  explicit ConversionError(const std::string& rejected);
};

// Two upper-case hexadecimal digits.
ByteString ByteToHex(std::uint8_t b);

// The first byte of `s`, 0 for an empty string.
char FirstChar(const ByteString& s);

// Reads a character value typed by the user: "$ff" (hexadecimal), "#13" (decimal or "$" hex
// after "#", at most three characters), a single character (its code) or nothing
// (`Default`). A value outside 0..255 is shown in an error box and gives 0. Text that is not
// a number after the prefix throws ConversionError.
int ParseCharInput(const std::u16string& s, int Default, platform::UserMessages& messages);

// How a character value is shown for editing: "#nnn" for control characters, 127 and 255,
// the character itself otherwise. ParseCharInput reads every such text back.
std::u16string CharDisplayText(char16_t c);

// Integer conversion in the manner of the platform: no blanks, an optional sign, then
// decimal digits or "$" and hexadecimal digits. Throws ConversionError.
int StrToInt(std::string_view text);

std::string Utf16ToUtf8(std::u16string_view text);
// Bytes read as 8-bit characters (byte n is U+00nn), as UTF-8 text for people.
std::string Latin1ToUtf8(std::string_view bytes);
// Back to 8-bit characters: U+0000..U+00FF become their byte, any other character "?". A
// byte that does not belong to a well-formed UTF-8 sequence is taken as it is.
ByteString Utf8ToLatin1(std::string_view text);

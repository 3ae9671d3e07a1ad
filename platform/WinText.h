// Text between the components' 8-bit strings and the wide strings of the Windows calls.
// Each byte is the character of the same number (ISO 8859-1), so that every value 0..255
// survives a round trip through a registry string or a device name; a wide character
// beyond 255, which only another program can have written, arrives as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::wstring WideFromBytes(std::string_view bytes);
std::string BytesFromWide(std::wstring_view wide);
// Paths of files given by the user and the registry seam's strings are UTF-8 (the form of
// the command line, the window and the settings' texts); bytes that are no UTF-8 are taken
// one character each, as above.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

}  // namespace platform

#include "tools/link_bench/HexText.h"

#include "util/ByteText.h"

namespace {

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Separator(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == ':' || c == ';';
}

}  // namespace

std::optional<ByteString> ParseHexBytes(std::string_view text) {
  ByteString bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (Separator(text[i])) {
      ++i;
      continue;
    }
    if (i + 1 >= text.size() || Digit(text[i]) < 0 || Digit(text[i + 1]) < 0) return std::nullopt;
    bytes += static_cast<char>(Digit(text[i]) * 16 + Digit(text[i + 1]));
    i += 2;
  }
  return bytes;
}

ByteString FormatHexBytes(const ByteString& bytes) {
  ByteString text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) text += ' ';
    text += ByteToHex(static_cast<std::uint8_t>(bytes[i]));
  }
  return text;
}

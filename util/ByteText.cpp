#include "util/ByteText.h"

#include <cstdio>
#include <limits>

ConversionError::ConversionError(const std::string& rejected)
    : std::runtime_error("'" + rejected + "' ist kein gültiger Integerwert") {}

ByteString ByteToHex(std::uint8_t b) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return ByteString{kDigits[b >> 4], kDigits[b & 0x0F]};
}

char FirstChar(const ByteString& s) {
  return s.empty() ? '\0' : s[0];
}

int StrToInt(std::string_view text) {
  std::string_view digits = text;
  bool negative = false;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
    negative = digits[0] == '-';
    digits.remove_prefix(1);
  }
  int base = 10;
  if (!digits.empty() && digits[0] == '$') {
    base = 16;
    digits.remove_prefix(1);
  }
  if (digits.empty()) throw ConversionError(std::string(text));
  std::uint64_t value = 0;
  for (char c : digits) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      throw ConversionError(std::string(text));
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (value > 0xFFFFFFFFull) throw ConversionError(std::string(text));
  }
  if (base == 16) {
    // Hexadecimal spells the 32-bit pattern: $FFFFFFFF is -1.
    const auto bits = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return negative ? -bits : bits;
  }
  const std::int64_t signed_value =
      negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
  if (signed_value < std::numeric_limits<int>::min() ||
      signed_value > std::numeric_limits<int>::max())
    throw ConversionError(std::string(text));
  return static_cast<int>(signed_value);
}

namespace {

std::u16string Trim(std::u16string_view s) {
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && s[begin] <= u' ') ++begin;
  while (end > begin && s[end - 1] <= u' ') --end;
  return std::u16string(s.substr(begin, end - begin));
}

}  // namespace

int ParseCharInput(const std::u16string& s, int Default, platform::UserMessages& messages) {
  if (s.empty()) return Default;
  if (s.size() == 1) return s[0];
  int value;
  if (s[0] == u'$') {
    value = StrToInt(Utf16ToUtf8(s));
  } else if (s[0] == u'#') {
    value = StrToInt(Utf16ToUtf8(Trim(std::u16string_view(s).substr(1, 3))));
  } else {
    value = -1;
  }
  if (value < 0 || value > 255) {
    char text[64];
    std::snprintf(text, sizeof text, "%d ist nicht im Wertebereich 0 - 255", value);
    messages.Show(platform::MessageKind::Error, text);
    return 0;
  }
  return value;
}

std::u16string CharDisplayText(char16_t c) {
  if (c <= 31 || c == 127 || c == 255) {
    char text[16];
    std::snprintf(text, sizeof text, "#%-3d", static_cast<int>(c));
    return std::u16string(text, text + std::char_traits<char>::length(text));
  }
  return std::u16string(1, c);
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

ByteString Utf8ToLatin1(std::string_view text) {
  ByteString out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    char32_t cp = length == 1   ? lead
                  : length == 2 ? lead & 0x1F
                  : length == 3 ? lead & 0x0F
                                : lead & 0x07;
    bool well_formed = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; well_formed && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      well_formed = (next & 0xC0) == 0x80;
      cp = (cp << 6) | (next & 0x3F);
    }
    // Overlong forms are not UTF-8 either.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (well_formed && cp < kSmallest[length]) well_formed = false;
    if (!well_formed) {
      out += text[i++];
      continue;
    }
    out += cp <= 0xFF ? static_cast<char>(cp) : '?';
    i += length;
  }
  return out;
}

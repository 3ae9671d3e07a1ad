#include <gtest/gtest.h>

#include "util/ByteText.h"
#include "util/RegIniFile.h"

using platform::MessageKind;
using platform::RecordingMessages;

TEST(ByteText, ByteToHexAndFirstChar) {
  EXPECT_EQ(ByteToHex(0), "00");
  EXPECT_EQ(ByteToHex(10), "0A");
  EXPECT_EQ(ByteToHex(0xAB), "AB");
  EXPECT_EQ(ByteToHex(255), "FF");
  EXPECT_EQ(FirstChar(""), '\0');
  EXPECT_EQ(FirstChar("AB"), 'A');
  EXPECT_EQ(FirstChar(std::string("\0x", 2)), '\0');
}

namespace {

// ParseCharInput's result and the error boxes it showed.
struct Parsed {
  int value;
  std::vector<std::string> boxes;
};

Parsed Parse(const std::u16string& s, int def = 77) {
  RecordingMessages messages;
  const int value = ParseCharInput(s, def, messages);
  std::vector<std::string> boxes;
  for (const auto& box : messages.shown) {
    EXPECT_EQ(box.kind, MessageKind::Error);
    boxes.push_back(box.text);
  }
  return {value, boxes};
}

}  // namespace

TEST(ParseCharInput, PrefixesSingleCharactersAndEmpty) {
  EXPECT_EQ(Parse(u"$ff").value, 255);
  EXPECT_EQ(Parse(u"$FF").value, 255);
  EXPECT_EQ(Parse(u"$0b").value, 11);
  EXPECT_EQ(Parse(u"#13 ").value, 13);
  EXPECT_EQ(Parse(u"#1234").value, 123) << "only three characters after #";
  EXPECT_EQ(Parse(u"# 7").value, 7);
  EXPECT_EQ(Parse(u"#0  ").value, 0);
  EXPECT_EQ(Parse(u"#$1F").value, 31);
  EXPECT_EQ(Parse(u"A").value, 65);
  EXPECT_EQ(Parse(u"\u00e4").value, 0xE4) << "one character, no range test";
  EXPECT_EQ(Parse(u"\u20ac").value, 0x20AC);
  EXPECT_EQ(Parse(u"").value, 77);
  EXPECT_TRUE(Parse(u"$ff").boxes.empty());
}

TEST(ParseCharInput, OutOfRangeShowsTheBoxAndGivesZero) {
  auto p = Parse(u"$100");
  EXPECT_EQ(p.value, 0);
  EXPECT_EQ(p.boxes, std::vector<std::string>{"256 ist nicht im Wertebereich 0 - 255"});
  p = Parse(u"#-1");
  EXPECT_EQ(p.value, 0);
  EXPECT_EQ(p.boxes, std::vector<std::string>{"-1 ist nicht im Wertebereich 0 - 255"});
  p = Parse(u"13");  // no prefix: not a character input
  EXPECT_EQ(p.value, 0);
  EXPECT_EQ(p.boxes, std::vector<std::string>{"-1 ist nicht im Wertebereich 0 - 255"});
}

TEST(ParseCharInput, TextThatIsNoNumberRaisesTheConversionError) {
  RecordingMessages messages;
  try {
    ParseCharInput(u"#ab", 0, messages);
    FAIL() << "no conversion error";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'ab' ist kein gültiger Integerwert");
  }
  EXPECT_THROW(ParseCharInput(u"$xy", 0, messages), ConversionError);
  EXPECT_THROW(ParseCharInput(u"#   ", 0, messages), ConversionError);
  EXPECT_TRUE(messages.shown.empty()) << "no range box for a conversion failure";
}

TEST(StrToInt, DecimalHexSignsAndFailures) {
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("-42"), -42);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("$7fffffff"), 0x7FFFFFFF);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", "-", "$", " 1", "1 ", "12a", "2147483648", "$100000000", "0x10"})
    EXPECT_THROW(StrToInt(bad), ConversionError) << bad;
}

TEST(CharDisplayText, ControlCharactersAsNumbersOthersAsThemselves) {
  EXPECT_EQ(CharDisplayText(0), u"#0  ");
  EXPECT_EQ(CharDisplayText(13), u"#13 ");
  EXPECT_EQ(CharDisplayText(31), u"#31 ");
  EXPECT_EQ(CharDisplayText(127), u"#127");
  EXPECT_EQ(CharDisplayText(255), u"#255");
  EXPECT_EQ(CharDisplayText(32), u" ");
  EXPECT_EQ(CharDisplayText(65), u"A");
  EXPECT_EQ(CharDisplayText(128), std::u16string(1, char16_t{128}));
}

TEST(CharDisplayText, EveryCharacterValueSurvivesTheRoundTrip) {
  RecordingMessages messages;
  for (int c = 0; c <= 255; ++c)
    EXPECT_EQ(ParseCharInput(CharDisplayText(static_cast<char16_t>(c)), -5, messages), c) << c;
  EXPECT_TRUE(messages.shown.empty());
}

TEST(Latin1ToUtf8, BytesBecomeTheirCharacters) {
  EXPECT_EQ(Latin1ToUtf8("CONNECT 9600\r\n"), "CONNECT 9600\r\n");
  EXPECT_EQ(Latin1ToUtf8(std::string("\xE4\x00\xFF", 3)), std::string("\xC3\xA4\x00\xC3\xBF", 5));
}

TEST(Utf16ToUtf8, GermanTextAndSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(u"Binärfile"), "Binärfile");
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

TEST(Utf8ToLatin1, CharactersBecomeBytesOthersAQuestionMarkBrokenBytesThemselves) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToLatin1(Latin1ToUtf8(all)), all);
  EXPECT_EQ(Utf8ToLatin1("€ und \U0001F600"), "? und ?");
  // A lone lead byte, a lone continuation byte, an overlong form and a cut sequence.
  EXPECT_EQ(Utf8ToLatin1("\xE4x\x80\xC0\xAF\xE2\x82"), "\xE4x\x80\xC0\xAF\xE2\x82");
}

TEST(ParseSettingsNumber, PlainDecimalWithinTheRangeOfTheValuesType) {
  EXPECT_EQ(ParseSettingsNumber("4294967295", 0, UINT32_MAX), 4294967295);
  EXPECT_EQ(ParseSettingsNumber("-2147483648", INT32_MIN, INT32_MAX), -2147483648);
  EXPECT_EQ(ParseSettingsNumber("007", 0, 255), 7);
  EXPECT_EQ(ParseSettingsNumber("-0", -1, 1), 0);
  // Hexadecimal, a plus, blanks and numbers beyond the type were once taken ("$4B00" as
  // 19200, "3000000000" as a negative 32-bit number).
  for (const char* bad : {"", "-", "$", "$ff", "$4B00", "+7", "4294967296", " 1", "1 ", "12a",
                          "0x10", "99999999999999999999"})
    EXPECT_EQ(ParseSettingsNumber(bad, 0, UINT32_MAX), std::nullopt) << bad;
  EXPECT_EQ(ParseSettingsNumber("3000000000", INT32_MIN, INT32_MAX), std::nullopt);
  EXPECT_EQ(ParseSettingsNumber("-5", 0, UINT32_MAX), std::nullopt) << "unsigned: no minus";
  EXPECT_EQ(ParseSettingsNumber("256", 0, UINT8_MAX), std::nullopt);
}

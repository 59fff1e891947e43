#include "lib/strings.h"

#include <gtest/gtest.h>

#include "lib/system.h"

TEST(Strings, Utf8RoundTripAndReplacement) {
  const String text = u"Mivo \u00e4\u0416 \U0001F3B5";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  String out;
  EXPECT_FALSE(TryUtf8ToUtf16("\xC3", out));        // truncated sequence
  EXPECT_FALSE(TryUtf8ToUtf16("\xC0\x80", out));    // overlong
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
}

TEST(Strings, StrToInt) {
  struct Case {
    const char16_t* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {u"0", true, 0},          {u"-17", true, -17},       {u"+5", true, 5},
      {u"$ff", true, 255},      {u"0x10", true, 16},       {u"2147483647", true, 2147483647},
      {u"-2147483648", true, INT32_MIN}, {u"2147483648", false, 0}, {u"", false, 0},
      {u"12a", false, 0},       {u" 1", false, 0},         {u"0x", false, 0},
      {u"$FFFFFFFF", true, -1},
  };
  for (const auto& c : cases) {
    int32_t v = 0;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << Utf16ToUtf8(c.text);
    if (c.ok) {
      EXPECT_EQ(v, c.value) << Utf16ToUtf8(c.text);
    }
  }
}

TEST(Strings, AccessKeysOfCaptions) {
  struct Case {
    const char16_t* caption;
    const char16_t* shown;
    char16_t key;
  } cases[] = {
      {u"&Next >", u"Next >", u'N'},
      {u"I &accept", u"I accept", u'a'},
      {u"Save && &quit", u"Save & quit", u'q'},
      {u"Tom && Jerry", u"Tom & Jerry", 0},
      {u"No key", u"No key", 0},
      {u"Trailing &", u"Trailing &", 0},
      {u"&\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u0438\u0442\u044c",
       u"\u0423\u0441\u0442\u0430\u043d\u043e\u0432\u0438\u0442\u044c", u'\u0423'},
      {u"", u"", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StripAccessKey(c.caption), c.shown) << Utf16ToUtf8(c.caption);
    EXPECT_EQ(CaptionAccessKey(c.caption), c.key) << Utf16ToUtf8(c.caption);
  }
}

TEST(Strings, PathParts) {
  EXPECT_EQ(ExtractFilePath(u"C:\\a\\b.txt"), u"C:\\a\\");
  EXPECT_EQ(ExtractFileName(u"C:\\a\\b.txt"), u"b.txt");
  EXPECT_EQ(ExtractFileExt(u"C:\\a.d\\b"), u"");
  EXPECT_EQ(ExtractFileDrive(u"C:\\x"), u"C:");
  EXPECT_EQ(ExtractFileDrive(u"\\\\srv\\share\\x"), u"\\\\srv\\share");
  EXPECT_EQ(ExtractFileDrive(u"rel\\x"), u"");
  EXPECT_EQ(IncludeTrailingBackslash(u"C:\\a"), u"C:\\a\\");
}

TEST(SystemText, LocaleComparisonIgnoresCase) {
  EXPECT_TRUE(SameTextLocale(u"Uninstall.INI", u"uninstall.ini"));
  EXPECT_TRUE(SameTextLocale(u"\u0416\u0443\u043a", u"\u0436\u0423\u041a"));  // Cyrillic
  EXPECT_TRUE(SameTextLocale(u"\u00c4", u"\u00e4"));
  EXPECT_FALSE(SameTextLocale(u"ab", u"abc"));
}

TEST(SystemText, AnsiCodePage) {
  // Both backends use Windows-1252 here (Wine's default code page for English).
  EXPECT_EQ(AnsiToUnicode("\xE4\x80"), u"\u00e4\u20ac");
  EXPECT_EQ(UnicodeToAnsi(u"\u00e4\u20ac"), "\xE4\x80");
}

#include "lib/string_list.h"

#include <gtest/gtest.h>

#include <vector>

#include "lib/exceptions.h"
#include "lib/system.h"
#include "lib/text_encoding.h"

using namespace std::string_literals;
using namespace std::string_view_literals;

namespace {

std::vector<uint8_t> Bytes(std::string_view s) {
  return {s.begin(), s.end()};
}

std::vector<String> Items(const TVelStringList& list) {
  std::vector<String> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Strings(i));
  return out;
}

}  // namespace

TEST(StringList, ValuesLastMatchWinsIndexOfFirst) {
  TVelStringList list;
  list.Add(u"n=1");
  list.Add(u"N=2");
  EXPECT_EQ(list.Values(u"n"), u"2");
  EXPECT_EQ(list.IndexOfName(u"n"), 1);
  EXPECT_EQ(list.IndexOf(u"N=2"), 1);
  EXPECT_EQ(list.IndexOf(u"n=2"), 1);  // without regard to case
  EXPECT_EQ(list.IndexOf(u"n="), -1);

  list.SetCaseSensitive(true);
  EXPECT_EQ(list.Values(u"n"), u"1");
  EXPECT_EQ(list.IndexOf(u"n=2"), -1);
}

TEST(StringList, NamesValuesAndSeparator) {
  TVelStringList list;
  list.SetText(u"a=1=2\r\nplain\r\n=v\r\n\u00c4=x\r\n");
  EXPECT_EQ(list.Names(0), u"a");
  EXPECT_EQ(list.ValueFromIndex(0), u"1=2");
  EXPECT_EQ(list.Names(1), u"");
  EXPECT_EQ(list.ValueFromIndex(1), u"");
  EXPECT_EQ(list.Values(u"plain"), u"");
  EXPECT_EQ(list.Values(u""), u"v");
  EXPECT_EQ(list.Values(u"\u00e4"), u"x");  // locale case folding beyond ASCII

  list.SetValues(u"A", u"new");  // replaces in place, with the name as passed
  EXPECT_EQ(list.Strings(0), u"A=new");
  list.SetValues(u"b", u"2");
  EXPECT_EQ(list.Strings(list.Count() - 1), u"b=2");

  TVelStringList colon;
  colon.SetNameValueSeparator(u':');
  colon.Add(u"CL:run %s");
  colon.Add(u"P4=x");
  EXPECT_EQ(colon.Values(u"CL"), u"run %s");
  EXPECT_EQ(colon.Values(u"P4"), u"");
}

TEST(StringList, TextSplitting) {
  struct Case {
    const char16_t* text;
    std::vector<String> lines;
  } cases[] = {
      {u"", {}},
      {u"a", {u"a"}},
      {u"a\r\nb\r\n", {u"a", u"b"}},
      {u"a\rb\nc", {u"a", u"b", u"c"}},
      {u"a\n\rb", {u"a", u"", u"b"}},  // LF CR is two line ends
      {u"a\r\r\nb", {u"a", u"", u"b"}},
      {u"a\n\nb\n", {u"a", u"", u"b"}},
      {u"\r\n", {u""}},
      {u"x\u2028y\u2029", {u"x", u"y\u2029"}},  // only U+2028 ends a line
      {u" a = b \t", {u" a = b \t"}},
  };
  for (const auto& c : cases) {
    TVelStringList list;
    list.Add(u"old");
    list.SetText(c.text);
    EXPECT_EQ(Items(list), c.lines) << Utf16ToUtf8(c.text);
  }
  TVelStringList list;
  list.SetText(u"a\nb");
  EXPECT_EQ(list.Text(), u"a\r\nb\r\n");
}

TEST(StringList, LoadDetectsEncodingAndSaveWritesMark) {
  struct Case {
    std::string bytes;
    String text;
  } cases[] = {
      {"\xEF\xBB\xBF"
       "\xC3\xA4=1\r\n",
       u"\u00e4=1\r\n"},
      {"\xFF\xFE"
       "\xE4\x00=\x00"
       "1\x00"s,
       u"\u00e4=1\r\n"},
      {"\xFE\xFF"
       "\x00\xE4\x00=\x00"
       "1"s,
       u"\u00e4=1\r\n"},
      {"\xE4=1", u"\u00e4=1\r\n"},  // ANSI code page
      {"\xEF\xBB\xBF"
       "\xE4=1",
       u"\u00e4=1\r\n"},                  // bad UTF-8: ANSI instead
      {"\xEF\xBB", u"\u00ef\u00bb\r\n"},  // too short for a mark
  };
  for (const auto& c : cases) {
    TMemoryStream stream(Bytes(c.bytes));
    TVelStringList list;
    list.LoadFromStream(stream);
    EXPECT_EQ(list.Text(), c.text) << testing::PrintToString(c.bytes);
  }

  // A given encoding skips its own mark and ignores others.
  TMemoryStream utf8(
      Bytes("\xEF\xBB\xBF"
            "a"));
  TVelStringList list;
  list.LoadFromStream(utf8, TVelEncoding::Utf8);
  EXPECT_EQ(list.Text(), u"a\r\n");
  TMemoryStream ansi(
      Bytes("\xEF\xBB\xBF"
            "a"));
  list.LoadFromStream(ansi, TVelEncoding::Ansi);
  EXPECT_EQ(list.Text(),
            u"\u00ef\u00bb\u00bf"
            u"a\r\n");

  TMemoryStream out;
  list.SetText(u"\u00e4");
  list.SaveToStream(out);
  EXPECT_EQ(out.Bytes(), Bytes("\xFF\xFE\xE4\x00\r\x00\n\x00"sv));
}

TEST(TextEncoding, RoundTripsAndLossless) {
  const String text = u"K\u00e4se \u0416 \U0001F3B5\r\n";
  for (TVelEncoding e : {TVelEncoding::Utf8, TVelEncoding::Utf16LE, TVelEncoding::Utf16BE}) {
    TMemoryStream stream;
    EXPECT_EQ(WriteEncodedText(stream, text, e), e);
    TVelEncoding detected;
    EXPECT_EQ(DecodeTextAuto(stream.Bytes(), detected), text);
    EXPECT_EQ(detected, e);
  }
  TMemoryStream ansi;
  EXPECT_EQ(WriteEncodedText(ansi, u"K\u00e4se", TVelEncoding::Ansi), TVelEncoding::Ansi);
  EXPECT_EQ(ansi.Bytes(), Bytes("K\xE4se"));
  // Text the code page cannot hold is not replaced by '?' but kept in UTF-16LE.
  TMemoryStream wide;
  EXPECT_EQ(WriteEncodedText(wide, u"\u0416", TVelEncoding::Ansi), TVelEncoding::Utf16LE);
  EXPECT_EQ(wide.Bytes(), Bytes("\xFF\xFE\x16\x04"));
  // So are unpaired surrogates, which UTF-8 cannot hold.
  TMemoryStream lone;
  EXPECT_EQ(WriteEncodedText(lone, u"\xD800", TVelEncoding::Utf8), TVelEncoding::Utf16LE);
  // A stray final byte of UTF-16 content is dropped.
  TVelEncoding detected;
  EXPECT_EQ(DecodeTextAuto(Bytes("\xFF\xFE"
                                 "a\x00"
                                 "b"sv),
                           detected),
            u"a");
}

TEST(StringList, SortUsesCaseSensitiveLocaleOrder) {
  TVelStringList list;
  int marks[3];
  list.Add(u"gamma", &marks[0]);
  list.Add(u"Delta", &marks[1]);
  list.Add(u"alpha", &marks[2]);
  list.Add(u"Beta");
  list.Sort();
  EXPECT_EQ(Items(list), (std::vector<String>{u"alpha", u"Beta", u"Delta", u"gamma"}));
  EXPECT_EQ(list.Objects(0), &marks[2]);  // objects travel with their items
  EXPECT_EQ(list.Objects(2), &marks[1]);
  EXPECT_EQ(list.Objects(3), &marks[0]);
}

TEST(StringList, CompareLogical) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    int sign;
  } cases[] = {
      {u"file2", u"file10", -1},
      {u"File10", u"file9", 1},
      {u"file2.lng", u"FILE2.LNG", 0},  // equal without regard to case...
      {u"\uff11\uff10", u"9", 1},       // full-width digits by value
      {u"v\uff12", u"v10", -1},
      {u"a", u"a1", -1},
      {u"1", u"a", -1},  // numbers before other text
      {u"abc", u"ABD", -1},
      {u"x99999999999999999999", u"x100000000000000000000", -1},  // no overflow
      {u"007", u"7", 0},  // ...and leading zeros (see below)
      {u"", u"", 0},
  };
  for (const auto& c : cases) {
    const int ab = CompareLogical(c.a, c.b), ba = CompareLogical(c.b, c.a);
    const String what = String(c.a) + u" : " + c.b;
    if (c.sign == 0) {
      // Texts that are equal run by run still get a fixed, antisymmetric order.
      EXPECT_EQ(ab, -ba) << Utf16ToUtf8(what);
      EXPECT_EQ(ab == 0, String(c.a) == c.b) << Utf16ToUtf8(what);
    } else {
      EXPECT_EQ(ab, c.sign) << Utf16ToUtf8(what);
      EXPECT_EQ(ba, -c.sign) << Utf16ToUtf8(what);
    }
  }

  TVelStringList langs;
  langs.SetText(u"Lang10.lng\r\nlang9.lng\r\nLang1.lng\r\nDeutsch.lng\r\nlang\uff12.lng\r\n");
  langs.SortLogical();
  EXPECT_EQ(Items(langs), (std::vector<String>{u"Deutsch.lng", u"Lang1.lng", u"lang\uff12.lng",
                                               u"lang9.lng", u"Lang10.lng"}));
}

TEST(StringList, IndexErrorsRaise) {
  TVelStringList list;
  list.Add(u"a");
  EXPECT_THROW(list.Strings(1), EInvalidOperation);
  EXPECT_THROW(list.Delete(-1), EInvalidOperation);
  EXPECT_THROW(list.Names(5), EInvalidOperation);
  list.SetCapacity(0);  // never drops items
  EXPECT_EQ(list.Count(), 1);
  list.SetCapacity(100);
  EXPECT_GE(list.Capacity(), 100);
  list.Delete(0);
  EXPECT_EQ(list.Count(), 0);
}

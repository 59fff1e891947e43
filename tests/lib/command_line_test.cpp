#include "lib/command_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "lib/system.h"

namespace {

using TCommands = TVelCommandLineProcessor::TCommands;

struct ExpectedCommand {
  String name;
  std::vector<String> values;
};

std::string Describe(const TCommands& commands) {
  std::string out;
  for (const auto& c : commands) {
    out += "[";
    out += Utf16ToUtf8(c.Name);
    out += ":";
    for (int i = 0; i < c.Values.Count(); ++i) {
      out += " <";
      out += Utf16ToUtf8(c.Values.Strings(i));
      out += ">";
    }
    out += "]";
  }
  return out;
}

std::string Describe(const std::vector<ExpectedCommand>& commands) {
  std::string out;
  for (const auto& c : commands) {
    out += "[";
    out += Utf16ToUtf8(c.name);
    out += ":";
    for (const auto& v : c.values) {
      out += " <";
      out += Utf16ToUtf8(v);
      out += ">";
    }
    out += "]";
  }
  return out;
}

bool Same(const TCommands& actual, const std::vector<ExpectedCommand>& expected) {
  if (actual.size() != expected.size()) return false;
  for (size_t i = 0; i < actual.size(); ++i) {
    const auto& values = actual[i].Values;
    if (actual[i].Name != expected[i].name) return false;
    if (values.Count() != static_cast<int>(expected[i].values.size())) return false;
    for (int j = 0; j < values.Count(); ++j) {
      if (values.Strings(j) != expected[i].values[j]) return false;
    }
  }
  return true;
}

TEST(CommandLineParse, Table) {
  struct Case {
    String text;
    std::vector<ExpectedCommand> expected;
  } cases[] = {
      // Nothing there.
      {u"", {}},
      {u"   ", {}},
      {u"-", {}},
      // Switch starts: "/" always, "-" at the start or once a command exists.
      {u"/AUTO", {{u"AUTO", {}}}},
      {u"/auto", {{u"auto", {}}}},
      {u"-AUTO", {{u"AUTO", {}}}},
      {u" -AUTO ", {{u"AUTO", {}}}},
      {u"  /AUTO", {{u"AUTO", {}}}},
      {u"/SILENT -AUTO", {{u"SILENT", {}}, {u"AUTO", {}}}},
      {u"/A /B=1 x", {{u"A", {}}, {u"B", {u"1"}}, {u"", {u"x"}}}},
      // A free word, a blank and a "-" switch form one free value.
      {u"foo -AUTO", {{u"", {u"foo -AUTO"}}}},
      {u"a - b", {{u"", {u"a - b"}}}},
      // "-" and "/" inside a word or a value are ordinary text.
      {u"a-b/c", {{u"", {u"a-b/c"}}}},
      {u"/PATH=C:/x-y", {{u"PATH", {u"C:/x-y"}}}},
      // A switch sign not followed by a name stays text.
      {u"/ A", {{u"", {u"/ A"}}}},
      {u"x /\"AUTO\"", {{u"", {u"x /", u"AUTO"}}}},
      // Quoted folder with a blank and a trailing backslash.
      {u"/AUTO=\"C:\\My Folder\\\"", {{u"AUTO", {u"C:\\My Folder\\"}}}},
      {u"/PATH=\"C:\\a b\\\" /SILENT", {{u"PATH", {u"C:\\a b\\"}}, {u"SILENT", {}}}},
      // Unquoted, the value list ends at the blank; the rest is a free value.
      {u"/AUTO=C:\\My Folder", {{u"AUTO", {u"C:\\My"}}, {u"", {u"Folder"}}}},
      {u"/A=x rest", {{u"A", {u"x"}}, {u"", {u"rest"}}}},
      // Value lists.
      {u"/A=x;y", {{u"A", {u"x", u"y"}}}},
      {u"/A=x;;y;", {{u"A", {u"x", u"y"}}}},
      {u"/A=1;2 x;y", {{u"A", {u"1", u"2"}}, {u"", {u"x;y"}}}},
      {u"/A=\"\"", {{u"A", {}}}},
      {u"/A=\"x y\";z", {{u"A", {u"x y", u"z"}}}},
      {u"/A=\"x", {{u"A", {u"x"}}}},  // a lone quote in a value list is dropped
      {u"/A=a=b", {{u"A", {u"a=b"}}}},
      // Text after a switch without "=" is its value until the next switch.
      {u"/AUTO C:\\Folder", {{u"AUTO", {u"C:\\Folder"}}}},
      {u"/A x /B", {{u"A", {u"x"}}, {u"B", {}}}},
      {u"/A x  y", {{u"A", {u"x  y"}}}},
      // A drive or a network share starts a new value.
      {u"/AUTO C:\\a D:\\b", {{u"AUTO", {u"C:\\a", u"D:\\b"}}}},
      {u"x C:\\a", {{u"", {u"x", u"C:\\a"}}}},
      {u"C:\\a b", {{u"", {u"C:\\a b"}}}},
      {u"a \\\\srv\\share\\x y", {{u"", {u"a", u"\\\\srv\\share\\x y"}}}},
      {u"a \\x", {{u"", {u"a \\x"}}}},
      // A TAB belongs to the word, so "AUTO<TAB>" is the name.
      {u"/AUTO\t/SILENT", {{u"AUTO\t", {u"/SILENT"}}}},
      {u"/AUTO\t", {{u"AUTO\t", {}}}},
      // Quotes inside a word belong to it; a lone quote is text.
      {u"a\"b c\"", {{u"", {u"a\"b c\""}}}},
      {u"\"lone", {{u"", {u"\"lone"}}}},
      {u"free \"quoted text\" more", {{u"", {u"free", u"quoted text", u"more"}}}},
      // Line breaks end a free value; in a value list they are kept inside.
      {u"a\r\nb", {{u"", {u"a", u"b"}}}},
      {u"/A x\ny", {{u"A", {u"x", u"y"}}}},
      // A whole switch in quotes is that switch, its value one folder.
      {u"\"/AUTO=C:\\Some Folder\\\" /SILENT",
       {{u"AUTO", {u"C:\\Some Folder\\"}}, {u"SILENT", {}}}},
      {u"/SILENT \"/AUTO=C:\\a;b c\\\"", {{u"SILENT", {}}, {u"AUTO", {u"C:\\a;b c\\"}}}},
      {u"\"/SILENT\" \"/LOG=\"", {{u"SILENT", {}}, {u"LOG", {}}}},
      {u"\"/AUTO\" C:\\x", {{u"AUTO", {u"C:\\x"}}}},
      // Quoted text that is no switch stays a free value.
      {u"\"/ x\" \"/=y\" \"-A\"", {{u"", {u"/ x", u"/=y", u"-A"}}}},
      {u"a\"/AUTO=x\"", {{u"", {u"a\"/AUTO=x\""}}}},
      // The same switch twice is kept twice.
      {u"/A=1 /a=2", {{u"A", {u"1"}}, {u"a", {u"2"}}}},
  };
  for (const auto& c : cases) {
    const TCommands actual = TVelCommandLineProcessor::Parse(c.text);
    EXPECT_TRUE(Same(actual, c.expected))
        << "text: " << Utf16ToUtf8(c.text) << "\n  actual:   " << Describe(actual)
        << "\n  expected: " << Describe(c.expected);
  }
}

TEST(CommandLineParse, SwitchQueries) {
  struct Case {
    String text;
    String name;
    bool found;
    String value;
  } cases[] = {
      {u"/auto", u"AUTO", true, u""},
      {u"-AUTO", u"auto", true, u""},
      {u"/AUTO=\"C:\\My Folder\\\"", u"AUTO", true, u"C:\\My Folder\\"},
      {u"/AUTO=C:\\My Folder", u"AUTO", true, u"C:\\My"},
      {u"/A=x;y;z", u"a", true, u"x;y;z"},
      {u"/A=1 /A=2", u"A", true, u"1"},  // the first occurrence answers
      {u"/AUTO\t/SILENT", u"AUTO", false, u""},
      {u"/AUTO\t/SILENT", u"SILENT", false, u""},
      {u"", u"AUTO", false, u""},
      {u"   ", u"SILENT", false, u""},
      {u"/AUTOX", u"AUTO", false, u""},
      {u"foo -AUTO", u"AUTO", false, u""},
      {u"/\u00c4PFEL", u"\u00e4pfel", true, u""},  // non-ASCII letters ignore case too
  };
  for (const auto& c : cases) {
    String value = u"stale";
    EXPECT_EQ(TVelCommandLineProcessor::GetSwitchValue(c.text, c.name, value), c.found)
        << Utf16ToUtf8(c.text) << " / " << Utf16ToUtf8(c.name);
    EXPECT_EQ(value, c.value) << Utf16ToUtf8(c.text) << " / " << Utf16ToUtf8(c.name);
    EXPECT_EQ(TVelCommandLineProcessor::HasSwitch(c.text, c.name), c.found);
  }
}

TEST(CommandLineArguments, ProgramPathIsCutOff) {
  struct Case {
    String commandLine;
    String arguments;
  } cases[] = {
      {u"\"C:\\Program Files\\Setup.exe\" /AUTO", u"/AUTO"},
      {u"C:\\Setup.exe /AUTO /SILENT", u"/AUTO /SILENT"},
      {u"  \"C:\\Program Files\\Setup.exe\"   /AUTO=\"C:\\x y\\\"  \r\n", u"/AUTO=\"C:\\x y\\\""},
      {u"\"C:\\Program Files\\Setup.exe\"", u""},
      {u"\"C:\\Program Files\\Setup.exe\"   ", u""},
      {u"C:\\Setup.exe", u""},
      {u"C:\\Setup.exe\r\n/AUTO", u"/AUTO"},
      {u"", u""},
      {u" \t\r\n", u""},
      {u"'C:\\a b\\Setup.exe' /SILENT", u"/SILENT"},
      // The argument text starts right after the closing quote.
      {u"\"C:\\a b\\Setup.exe\"/AUTO", u"/AUTO"},
      // Without a closing quote only the quote itself is cut off.
      {u"\"C:\\a b\\Setup.exe /AUTO", u"C:\\a b\\Setup.exe /AUTO"},
      // A quote inside an unquoted path belongs to it.
      {u"C:\\a\"b\\Setup.exe x", u"x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TVelCommandLineProcessor::GetCommandLineArguments(c.commandLine), c.arguments)
        << Utf16ToUtf8(c.commandLine);
  }
}

class FixedCommandLine : public TVelSystemServices {
 public:
  explicit FixedCommandLine(String commandLine) : commandLine_(std::move(commandLine)) {}
  String CommandLine() override { return commandLine_; }

 private:
  String commandLine_;
};

TEST(CommandLineArguments, ReadsTheProcessCommandLine) {
  TVelSystemServices& previous = VelSystem();
  FixedCommandLine services(u"\"C:\\Program Files\\Setup.exe\" /SILENT /AUTO=\"D:\\Mivo\\\"");
  SetVelSystem(&services);
  const String arguments = TVelCommandLineProcessor::GetCommandLineArguments();
  SetVelSystem(&previous);
  EXPECT_EQ(arguments, u"/SILENT /AUTO=\"D:\\Mivo\\\"");
  String dest;
  EXPECT_TRUE(TVelCommandLineProcessor::GetSwitchValue(arguments, u"auto", dest));
  EXPECT_EQ(dest, u"D:\\Mivo\\");
  EXPECT_TRUE(TVelCommandLineProcessor::HasSwitch(arguments, u"Silent"));
}

TEST(VelParser, TokenRules) {
  TVelParser::TOptions options;
  options.Delimiters = u",; ";
  options.QuoteChars = u"\"'";
  options.BlankChars = u" ";
  TVelParser parser(u"ab\"c, 'x;y' \"z;", options);
  using K = TVelParser::TTokenKind;
  struct Expected {
    K kind;
    String text;
    size_t start, end;
  } expected[] = {
      {K::Word, u"ab\"c", 0, 4},  {K::Delimiter, u",", 4, 5},   {K::Blank, u" ", 5, 6},
      {K::Quoted, u"x;y", 6, 11}, {K::Blank, u" ", 11, 12},     {K::LoneQuote, u"\"", 12, 13},
      {K::Word, u"z", 13, 14},    {K::Delimiter, u";", 14, 15},
  };
  TVelParser::TToken token;
  for (const auto& e : expected) {
    ASSERT_TRUE(parser.Next(token));
    EXPECT_EQ(token.Kind, e.kind);
    EXPECT_EQ(token.Text, e.text);
    EXPECT_EQ(token.Start, e.start);
    EXPECT_EQ(token.End, e.end);
  }
  EXPECT_FALSE(parser.Next(token));
  EXPECT_TRUE(parser.AtEnd());
}

TEST(VelParser, Options) {
  TVelParser::TOptions options;
  options.Delimiters = u" ";
  options.QuoteChars = u"\"";
  options.BlankChars = u" ";
  options.SkipBlanks = true;
  options.RemoveQuotes = false;

  TVelParser keep(u"  \"a b\"  c ", options);
  TVelParser::TToken token;
  ASSERT_TRUE(keep.Next(token));
  EXPECT_EQ(token.Text, u"\"a b\"");
  EXPECT_EQ(token.Kind, TVelParser::TTokenKind::Quoted);
  ASSERT_TRUE(keep.Next(token));
  EXPECT_EQ(token.Text, u"c");
  EXPECT_TRUE(keep.AtEnd());
  EXPECT_FALSE(keep.Next(token));

  options.QuotedStrings = false;
  TVelParser plain(u"\"a b\"", options);
  ASSERT_TRUE(plain.Next(token));
  EXPECT_EQ(token.Text, u"\"a");
  EXPECT_EQ(token.Kind, TVelParser::TTokenKind::Word);
}

}  // namespace

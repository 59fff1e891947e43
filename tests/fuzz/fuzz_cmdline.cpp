// Command-line parsing of arbitrary text: the input bytes are UTF-16LE code
// units (a trailing odd byte is dropped).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "lib/command_line.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool HasDelimiter(StringView text) {
  return text.find_first_of(u"-/=; \r\n") != StringView::npos;
}

void CheckTokens(const String& text, TVelParser::TOptions options) {
  // Without skipping, the tokens cover the text without gaps.
  options.SkipBlanks = false;
  TVelParser parser(text, options);
  TVelParser::TToken token;
  size_t pos = 0;
  while (parser.Next(token)) {
    Check(token.Start == pos);
    Check(token.End > token.Start && token.End <= text.size());
    Check(token.Kind == TVelParser::TTokenKind::Quoted || !token.Text.empty());
    pos = token.End;
  }
  Check(pos == text.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  String text;
  text.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }

  const auto commands = TVelCommandLineProcessor::Parse(text);
  for (const auto& command : commands) {
    if (command.Name.empty()) {
      // Unnamed commands exist only to hold values.
      Check(command.Values.Count() > 0);
    } else {
      // A name is one word: no delimiters, and never starting with a quote.
      Check(!HasDelimiter(command.Name));
      Check(command.Name[0] != u'"');
      // The first command of that name answers the switch query.
      String value;
      Check(TVelCommandLineProcessor::GetSwitchValue(text, command.Name, value));
      Check(TVelCommandLineProcessor::HasSwitch(text, command.Name));
    }
    for (int i = 0; i < command.Values.Count(); ++i) {
      const String& value = command.Values.Strings(i);
      Check(!value.empty());
      Check(Trim(value) == value);
    }
  }
  const auto again = TVelCommandLineProcessor::Parse(text);
  Check(again.size() == commands.size());
  for (size_t i = 0; i < again.size(); ++i) {
    Check(again[i].Name == commands[i].Name);
    Check(again[i].Values.Text() == commands[i].Values.Text());
  }

  // The arguments are a trimmed tail of the trimmed command line.
  const String trimmed = Trim(text);
  const String arguments = TVelCommandLineProcessor::GetCommandLineArguments(text);
  Check(Trim(arguments) == arguments);
  Check(arguments.size() < trimmed.size() || arguments.empty());
  Check(EndsWith(trimmed, arguments));

  TVelParser::TOptions options;
  options.Delimiters = u"-/=; \r\n";
  options.QuoteChars = u"\"";
  options.BlankChars = u" ";
  CheckTokens(text, options);
  options.Delimiters = u" \r\n";
  options.QuoteChars = u"\"'";
  options.BlankChars = String(u" \r\n\t", 4) + char16_t(0);
  CheckTokens(text, options);
  return 0;
}

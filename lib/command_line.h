// Command-line processing: the library tokenizer and the switch parser.
#pragma once

#include <cstddef>
#include <vector>

#include "lib/string_list.h"
#include "lib/strings.h"

// Cuts a text into tokens from left to right. At each position the first rule
// that applies decides:
//   1. a blank character is a blank token of one character;
//   2. with quoted strings recognised, a quote character starts a quoted token
//      when the same quote character occurs again later: the token is the text
//      up to that next occurrence, and reading continues after it; without a
//      closing partner the quote character is a lone-quote token of one
//      character;
//   3. a character that is not a delimiter starts a word: the longest run of
//      characters that are not delimiters (quote characters and any other
//      character inside a word belong to it);
//   4. otherwise the character is a delimiter token of one character.
class TVelParser {
 public:
  enum class TTokenKind { Blank, Delimiter, LoneQuote, Quoted, Word };

  struct TToken {
    TTokenKind Kind = TTokenKind::Word;
    // The token's characters; for a quoted token without the quotes when
    // RemoveQuotes is set.
    String Text;
    size_t Start = 0;  // offset of the first character in the text
    size_t End = 0;    // offset after the last character (after a closing quote)
  };

  struct TOptions {
    String Delimiters;
    String QuoteChars;
    String BlankChars;
    bool SkipBlanks = false;    // Next passes over blank tokens
    bool QuotedStrings = true;  // rule 2 applies; otherwise quotes are ordinary characters
    bool RemoveQuotes = true;   // a quoted token's text is without its quotes
  };

  TVelParser(StringView text, TOptions options);

  // Reads the next token; false at the end of the text.
  bool Next(TToken& token);

  size_t Position() const { return pos_; }
  bool AtEnd() const;
  const String& Text() const { return text_; }
  const TOptions& Options() const { return options_; }

 private:
  bool IsDelimiter(char16_t c) const;
  bool IsQuote(char16_t c) const;
  bool IsBlank(char16_t c) const;
  void ReadToken(TToken& token);

  String text_;
  TOptions options_;
  size_t pos_ = 0;
};

// Turns argument text into switches with values.
//
//   /AUTO="C:\My Folder\" -silent free;text
//
// A switch starts with "/" (or "-" at the start or once a command exists)
// after a blank or at the start; "=" after the name opens a value list whose
// values are separated by ";" and which ends at the first blank outside
// quotes. Text that belongs to no switch is collected in commands without a
// name.
class TVelCommandLineProcessor {
 public:
  struct TCommand {
    String Name;  // empty for values that belong to no switch
    TVelStringList Values;
  };

  // Ordered; the same name may occur more than once.
  using TCommands = std::vector<TCommand>;

  TVelCommandLineProcessor() = delete;

  // The process command line without the program path.
  static String GetCommandLineArguments();
  // The same for a given command line text.
  static String GetCommandLineArguments(StringView commandLine);

  static TCommands Parse(StringView text);

  // Parses the text; the first command whose name equals the name (without
  // regard to case, in the user's locale) gives true and its values joined
  // by ";". Otherwise false and an empty value.
  static bool GetSwitchValue(StringView text, StringView name, String& value);
  static bool HasSwitch(StringView text, StringView name);
};

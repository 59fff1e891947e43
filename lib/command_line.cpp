#include "lib/command_line.h"

#include <optional>
#include <utility>

#include "lib/system.h"

// ---------------------------------------------------------------------------
// TVelParser

TVelParser::TVelParser(StringView text, TOptions options)
    : text_(text), options_(std::move(options)) {}

bool TVelParser::IsDelimiter(char16_t c) const {
  return options_.Delimiters.find(c) != String::npos;
}

bool TVelParser::IsQuote(char16_t c) const {
  return options_.QuoteChars.find(c) != String::npos;
}

bool TVelParser::IsBlank(char16_t c) const {
  return options_.BlankChars.find(c) != String::npos;
}

bool TVelParser::AtEnd() const {
  if (!options_.SkipBlanks) return pos_ >= text_.size();
  size_t i = pos_;
  while (i < text_.size() && IsBlank(text_[i])) ++i;
  return i >= text_.size();
}

void TVelParser::ReadToken(TToken& token) {
  const size_t start = pos_;
  const char16_t c = text_[start];
  token.Start = start;
  if (IsBlank(c)) {
    token.Kind = TTokenKind::Blank;
    token.Text.assign(1, c);
    pos_ = start + 1;
  } else if (options_.QuotedStrings && IsQuote(c)) {
    const size_t close = text_.find(c, start + 1);
    if (close == String::npos) {
      token.Kind = TTokenKind::LoneQuote;
      token.Text.assign(1, c);
      pos_ = start + 1;
    } else {
      token.Kind = TTokenKind::Quoted;
      if (options_.RemoveQuotes) {
        token.Text.assign(text_, start + 1, close - start - 1);
      } else {
        token.Text.assign(text_, start, close - start + 1);
      }
      pos_ = close + 1;
    }
  } else if (!IsDelimiter(c)) {
    size_t end = start + 1;
    while (end < text_.size() && !IsDelimiter(text_[end])) ++end;
    token.Kind = TTokenKind::Word;
    token.Text.assign(text_, start, end - start);
    pos_ = end;
  } else {
    token.Kind = TTokenKind::Delimiter;
    token.Text.assign(1, c);
    pos_ = start + 1;
  }
  token.End = pos_;
}

bool TVelParser::Next(TToken& token) {
  while (pos_ < text_.size()) {
    ReadToken(token);
    if (!(options_.SkipBlanks && token.Kind == TTokenKind::Blank)) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// TVelCommandLineProcessor

namespace {

using TTokenKind = TVelParser::TTokenKind;
using TToken = TVelParser::TToken;
using TCommand = TVelCommandLineProcessor::TCommand;
using TCommands = TVelCommandLineProcessor::TCommands;

TVelParser::TOptions ProgramPathOptions() {
  TVelParser::TOptions options;
  options.Delimiters = u" \r\n";
  options.QuoteChars = u"\"'";
  options.BlankChars = String(u" \r\n\t", 4) + char16_t(0);
  options.SkipBlanks = true;
  options.QuotedStrings = true;
  options.RemoveQuotes = true;
  return options;
}

TVelParser::TOptions SwitchOptions() {
  TVelParser::TOptions options;
  options.Delimiters = u"-/=; \r\n";
  options.QuoteChars = u"\"";
  options.BlankChars = u" ";
  options.SkipBlanks = false;
  options.QuotedStrings = true;
  options.RemoveQuotes = true;
  return options;
}

// The switch parser's state machine.
class TSwitchParser {
 public:
  TCommands Run(StringView text) {
    TVelParser parser(text, SwitchOptions());
    TToken token;
    while (parser.Next(token)) {
      Handle(token);
      previous_ = std::move(token.Text);
    }
    Flush();
    return std::move(list_);
  }

 private:
  enum class TState {
    Value,        // S0: collecting free text or a switch's text
    AfterBlank,   // S1: a switch may start here
    SwitchStart,  // S2: after "/" or "-"
    AfterName,    // S3: after a switch name
    ValueList,    // S4: after "=", values separated by ";"
  };

  static bool IsLineBreak(const TToken& token) {
    return token.Kind == TTokenKind::Delimiter && (token.Text == u"\r" || token.Text == u"\n");
  }

  static bool IsDelimiter(const TToken& token, char16_t c) {
    return token.Kind == TTokenKind::Delimiter && token.Text.size() == 1 && token.Text[0] == c;
  }

  void AddValue(StringView value) {
    String trimmed = Trim(value);
    if (trimmed.empty()) return;
    if (!current_) {
      list_.emplace_back();
      current_ = list_.size() - 1;
    }
    list_[*current_].Values.Add(trimmed);
  }

  void Flush() {
    AddValue(buffer_);
    buffer_.clear();
  }

  void HandleAsValue(const TToken& token) {
    switch (token.Kind) {
      case TTokenKind::Blank:
        state_ = TState::AfterBlank;
        break;
      case TTokenKind::Delimiter:
      case TTokenKind::LoneQuote:
        if (IsLineBreak(token)) {
          Flush();
        } else {
          buffer_ += token.Text;
        }
        break;
      case TTokenKind::Quoted:
        Flush();
        AddValue(token.Text);
        break;
      case TTokenKind::Word:
        // A drive or a network share starts a new value: "C:\a D:\b" are two.
        if (!ExtractFileDrive(token.Text).empty()) Flush();
        buffer_ += token.Text;
        break;
    }
  }

  // A whole switch in quotes, as deployment tools write one with a folder
  // that has blanks: "/AUTO=C:\Some Folder\" is the switch AUTO with that
  // folder as its one value (nothing in it is special, not even ";").
  bool HandleQuotedSwitch(const TToken& token) {
    if (token.Kind != TTokenKind::Quoted || token.Text.size() < 2 || token.Text[0] != u'/')
      return false;
    const size_t equals = token.Text.find(u'=');
    const StringView name =
        StringView(token.Text).substr(1, equals == String::npos ? String::npos : equals - 1);
    if (name.empty() || name.find_first_of(u"-/;\" \t\r\n'") != StringView::npos) return false;
    Flush();
    list_.emplace_back();
    list_.back().Name = String(name);
    current_ = list_.size() - 1;
    if (equals != String::npos) AddValue(StringView(token.Text).substr(equals + 1));
    state_ = TState::Value;
    return true;
  }

  void Handle(const TToken& token) {
    switch (state_) {
      case TState::Value:
        HandleAsValue(token);
        break;

      case TState::AfterBlank:
        if (HandleQuotedSwitch(token)) break;
        if (IsDelimiter(token, u'/') ||
            (IsDelimiter(token, u'-') && (!list_.empty() || buffer_.empty()))) {
          state_ = TState::SwitchStart;
        } else {
          state_ = TState::Value;
          buffer_ += previous_;
          HandleAsValue(token);
        }
        break;

      case TState::SwitchStart:
        if (token.Kind == TTokenKind::Word) {
          Flush();
          list_.emplace_back();
          list_.back().Name = token.Text;
          current_ = list_.size() - 1;
          state_ = TState::AfterName;
        } else {
          state_ = TState::Value;
          buffer_ += u' ';
          buffer_ += previous_;
          HandleAsValue(token);
        }
        break;

      case TState::AfterName:
        if (token.Text == u"=") {
          state_ = TState::ValueList;
        } else {
          state_ = TState::Value;
          HandleAsValue(token);
        }
        break;

      case TState::ValueList:
        switch (token.Kind) {
          case TTokenKind::Blank:
            Flush();
            state_ = TState::AfterBlank;
            current_.reset();
            break;
          case TTokenKind::Delimiter:
            if (token.Text == u";") {
              Flush();
            } else {
              buffer_ += token.Text;
            }
            break;
          case TTokenKind::Quoted:
          case TTokenKind::Word:
            HandleAsValue(token);
            break;
          case TTokenKind::LoneQuote:
            break;
        }
        break;
    }
  }

  TCommands list_;
  std::optional<size_t> current_;
  String buffer_;
  String previous_;
  TState state_ = TState::AfterBlank;
};

}  // namespace

String TVelCommandLineProcessor::GetCommandLineArguments() {
  return GetCommandLineArguments(VelSystem().CommandLine());
}

String TVelCommandLineProcessor::GetCommandLineArguments(StringView commandLine) {
  const String text = Trim(commandLine);
  TVelParser parser(text, ProgramPathOptions());
  TToken program;
  if (!parser.Next(program)) return {};
  return Trim(StringView(text).substr(program.End));
}

TVelCommandLineProcessor::TCommands TVelCommandLineProcessor::Parse(StringView text) {
  return TSwitchParser().Run(text);
}

bool TVelCommandLineProcessor::GetSwitchValue(StringView text, StringView name, String& value) {
  value.clear();
  const TCommands commands = Parse(text);
  for (const TCommand& command : commands) {
    if (!SameTextLocale(command.Name, name)) continue;
    for (int i = 0; i < command.Values.Count(); ++i) {
      if (i > 0) value += u';';
      value += command.Values.Strings(i);
    }
    return true;
  }
  return false;
}

bool TVelCommandLineProcessor::HasSwitch(StringView text, StringView name) {
  String value;
  return GetSwitchValue(text, name, value);
}

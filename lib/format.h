// Formatting of the system's own texts (messages, language texts).
//
//   Format(u"Cannot install update on v%s", {versionText})
//   Format(u"System Error.  Code: %d.\r\n%s%s", {code, text, extra})
//
// The template knows three specifiers: "%s" takes a text argument, "%d" an
// integer argument and "%%" writes one percent sign. Arguments are consumed
// from left to right; arguments left over are ignored. Any other specifier, a
// "%" at the end, a missing argument or an argument of the other kind raises
// EFormatError. Templates may come from language files, so no template can
// make Format do more than raise that error.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "lib/strings.h"

// One argument of Format. It refers to the text it was made from, so it lives
// only as long as the call's full expression (the way it is used above).
class FormatArg {
 public:
  enum class TKind { Text, Signed, Unsigned };

  FormatArg(StringView text) : kind_(TKind::Text), text_(text) {}
  FormatArg(const String& text) : kind_(TKind::Text), text_(text) {}
  FormatArg(const char16_t* text)
      : kind_(TKind::Text), text_(text ? StringView(text) : StringView()) {}

  // Any integer type except bool and the character types, which would
  // otherwise turn silently into numbers.
  template <typename T,
            std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                 !std::is_same_v<T, char> && !std::is_same_v<T, char8_t> &&
                                 !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t> &&
                                 !std::is_same_v<T, wchar_t>,
                             int> = 0>
  FormatArg(T value) {
    if constexpr (std::is_signed_v<T>) {
      kind_ = TKind::Signed;
      signed_ = static_cast<int64_t>(value);
    } else {
      kind_ = TKind::Unsigned;
      unsigned_ = static_cast<uint64_t>(value);
    }
  }

  TKind Kind() const { return kind_; }
  bool IsText() const { return kind_ == TKind::Text; }
  bool IsInteger() const { return kind_ != TKind::Text; }
  StringView Text() const { return text_; }
  // The integer in decimal notation (with "-" when negative).
  String IntegerText() const;

 private:
  TKind kind_ = TKind::Signed;
  StringView text_;
  int64_t signed_ = 0;
  uint64_t unsigned_ = 0;
};

String Format(StringView templ, std::initializer_list<FormatArg> args = {});

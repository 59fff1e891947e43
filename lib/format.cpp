#include "lib/format.h"

#include "lib/exceptions.h"

namespace {

[[noreturn]] void RaiseInvalid(StringView templ) {
  throw EFormatError(u"Format '" + String(templ) + u"' invalid or incompatible with argument");
}

[[noreturn]] void RaiseMissing(StringView templ) {
  throw EFormatError(u"No argument for format '" + String(templ) + u"'");
}

String UnsignedToText(uint64_t value) {
  char16_t digits[20];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  String text;
  text.reserve(n);
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

}  // namespace

String FormatArg::IntegerText() const {
  switch (kind_) {
    case TKind::Unsigned:
      return UnsignedToText(unsigned_);
    case TKind::Signed:
      if (signed_ < 0) {
        // Negate in unsigned arithmetic so that INT64_MIN stays defined.
        String text = UnsignedToText(0 - static_cast<uint64_t>(signed_));
        text.insert(text.begin(), u'-');
        return text;
      }
      return UnsignedToText(static_cast<uint64_t>(signed_));
    case TKind::Text:
      break;
  }
  return {};
}

String Format(StringView templ, std::initializer_list<FormatArg> args) {
  String result;
  result.reserve(templ.size());
  auto next = args.begin();
  size_t i = 0;
  while (i < templ.size()) {
    const size_t percent = templ.find(u'%', i);
    if (percent == StringView::npos) {
      result.append(templ.substr(i));
      break;
    }
    result.append(templ.substr(i, percent - i));
    if (percent + 1 >= templ.size()) RaiseInvalid(templ);  // "%" at the end
    const char16_t kind = templ[percent + 1];
    i = percent + 2;
    if (kind == u'%') {
      result.push_back(u'%');
      continue;
    }
    if (kind != u's' && kind != u'd') RaiseInvalid(templ);
    if (next == args.end()) RaiseMissing(templ);
    const FormatArg& arg = *next++;
    if (kind == u's') {
      if (!arg.IsText()) RaiseInvalid(templ);
      result.append(arg.Text());
    } else {
      if (!arg.IsInteger()) RaiseInvalid(templ);
      result.append(arg.IntegerText());
    }
  }
  return result;
}
